// The number a text starts with, as Product.ini's ApMode and the drive's
// capacity line are read: "." is the decimal point whatever the user's
// settings, and reading stops at the first character that does not fit.
#pragma once

#include <QString>

#include <optional>

namespace ufd {

// Leading blanks, a sign, digits, a fraction and an exponent ("2.5",
// " -12 MB", "0.03e2"). A text without a leading number gives 0; nullopt
// means the number overflows a double.
std::optional<double> LeadingNumber(const QString& text);

} // namespace ufd
