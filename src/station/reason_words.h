// The reasons in words on the window (status line, tooltips) in the language
// shown. The records, --batch and the exports keep the table's English words.
#pragma once

#include <QString>

#include <span>

namespace ufd {

inline constexpr const char* kReasonContext = "StatusReasons";

// The reason for status in the window's language; empty for 0.
QString TrStatusReason(int status);

// The reasons marked for lupdate, which must be the table's
// (results/status_reasons.h), word for word.
std::span<const char* const> MarkedReasons();

} // namespace ufd
