// Stands in while this build has no sg backend: it finds no drive.
#include "executor.h"

namespace quorlink {
namespace {
class NoDrives final : public Executor {
public:
    OpenResult open(int) override { return {}; }
};
} // namespace

std::unique_ptr<Executor> makeSgExecutor() {
    return std::make_unique<NoDrives>();
}

} // namespace quorlink
