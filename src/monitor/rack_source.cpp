#include "monitor/rack_source.h"

#include "sim/rack.h"

#include <QFile>

#include <exception>
#include <optional>

namespace ufd {

namespace {

static_assert(quorlink::sim::kDriveCount == kRackIndexes);

class SimulatedRack final : public PluggedStateSource {
public:
    explicit SimulatedRack(quorlink::sim::RackProfile profile) : state_(std::move(profile)) {}

    std::optional<PluggedStates> Read() override {
        // A state file caught half-written or a state directory swept away
        // is "not readable now"; the next poll tries again.
        try {
            return state_.pluggedStates();
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

private:
    quorlink::sim::RackState state_;
};

} // namespace

std::unique_ptr<PluggedStateSource> OpenRackSource(const QString& rackPath, QString* error) {
    try {
        quorlink::sim::RackProfile profile = quorlink::sim::loadRack(
            std::filesystem::path(QFile::encodeName(rackPath).toStdString()));
        return std::make_unique<SimulatedRack>(std::move(profile));
    } catch (const std::exception& failure) {
        *error = QString::fromLocal8Bit(failure.what());
        return nullptr;
    }
}

} // namespace ufd
