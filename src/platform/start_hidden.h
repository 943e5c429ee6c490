#pragma once

#include <QString>

namespace ufd {

// Starts a program detached and without a window, like WinExec with
// SW_HIDE: a result of 32 or more means started, below 32 means it could
// not be started (missing, not executable).
int StartHidden(const QString& program);

} // namespace ufd
