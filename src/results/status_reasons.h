// The reason in words behind every Status code a slot can end with: the
// controller's failure codes and the station's own. Everything that shows a
// code (the window, --batch, ufd-results, the exports, docs/codes.md) takes
// its words from this one table.
#pragma once

#include <QString>

#include <span>

namespace ufd {

struct StatusReason {
    int status;
    const char* reason;
};

// Every known code, in ascending order.
std::span<const StatusReason> StatusReasons();

// The reason for status: empty for 0 (no failure), "unknown status XX" (the
// code's hexadecimal digits) for a code the table does not hold.
QString StatusReasonText(int status);

} // namespace ufd
