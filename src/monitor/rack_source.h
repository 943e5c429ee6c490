// The simulator's rack as a source of plugged states.
#pragma once

#include "monitor/rack_watch.h"

#include <QString>

#include <memory>

namespace ufd {

// Nothing (and the reason in *error) when the rack cannot be used.
std::unique_ptr<PluggedStateSource> OpenRackSource(const QString& rackPath, QString* error);

} // namespace ufd
