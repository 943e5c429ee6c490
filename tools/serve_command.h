// ufd-results serve: the access key, the hosts it answers to, and the server's run.
#pragma once

#include "results/database_target.h"
#include "settings/station_settings.h"
#include "yield_commands.h"

#include <QString>

namespace ufd {

// A name a Host header may give (--host-name): letters, digits, '-' and '.'.
bool ServeHostName(const QString& name);

// The exit code of `ufd-results serve`; returns once the server stops.
int RunServe(const YieldOptions& options, const DatabaseTarget& target,
             const StationSettings& settings);

} // namespace ufd
