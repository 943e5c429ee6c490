// The words behind a Status code, for everything that shows one (the window,
// --batch, ufd-results, the exports): a view of the one table of codes
// (base/status_codes.h) in Qt's strings.
#pragma once

#include "base/status_codes.h"

#include <QString>

namespace ufd {

// The reason for status: empty for 0 (no failure), "unknown status XX" (the
// code's hexadecimal digits) for a code the table does not hold.
QString StatusReasonText(int status);

// The same in the language the program has installed (the window's): the
// records, --batch and the exports keep the table's English words.
QString TrStatusReason(int status);

// "0xF5  245  not write protected": one code as `ufd-results codes` lists it
// and the manual page shows it.
QString StatusCodeLine(const StatusCode& code);

} // namespace ufd
