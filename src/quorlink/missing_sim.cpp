// Stands in while this build has no sim backend: it finds no drive.
#include "executor.h"

namespace quorlink {
namespace {
class NoDrives final : public Executor {
public:
    OpenResult open(int) override { return {}; }
};
} // namespace

std::unique_ptr<Executor> makeSimulatorExecutor(const std::string&) {
    return std::make_unique<NoDrives>();
}

} // namespace quorlink
