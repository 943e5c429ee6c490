// ufd-results serve: its options, the access key, and the server's run.
#pragma once

#include <QStringList>

namespace ufd {

// The exit code of `ufd-results serve args...`; returns once the server stops.
int RunServe(QStringList args);

} // namespace ufd
