// A failed slot's code and its reason in words, as the window shows it: the
// failed boxes' tooltip and, for a clicked failed row, the status line.
#pragma once

#include <QString>

namespace ufd {

// "Error Status = 10: <reason>", the code as the row's captions write it.
QString FailureText(int status);

} // namespace ufd
