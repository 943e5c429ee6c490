// Builds without the simulator have no rack to watch.
#include "monitor/rack_source.h"

namespace ufd {

std::unique_ptr<PluggedStateSource> OpenRackSource(const QString& rackPath, QString* error) {
    (void)rackPath;
    *error = QStringLiteral("this build has no drive simulator");
    return nullptr;
}

} // namespace ufd
