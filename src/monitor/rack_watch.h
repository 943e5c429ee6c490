// Simulated drives: the notice a change of the rack's plugged states means.
#pragma once

#include "monitor/notice_kind.h"

#include <array>
#include <optional>

namespace ufd {

constexpr int kRackIndexes = 17;
using PluggedStates = std::array<bool, kRackIndexes>;

// Any drive pulled makes "OUT" (its handle must go), otherwise any drive
// plugged in makes "IN"; no difference, no notice.
std::optional<NoticeKind> CompareRack(const PluggedStates& before, const PluggedStates& after);

// Where the plugged states come from, so tests can script them.
class PluggedStateSource {
public:
    virtual ~PluggedStateSource() = default;
    // Nothing when the states cannot be read right now (a rack file being
    // rewritten, a broken state file); the watcher then keeps what it had.
    virtual std::optional<PluggedStates> Read() = 0;
};

class RackWatch {
public:
    explicit RackWatch(PluggedStateSource& source);
    // Reads the first states without judging them: drives plugged before the
    // monitor started were found by the station's own first discovery.
    void Start();
    // One poll; the notice the difference to the last readable states means.
    std::optional<NoticeKind> Poll();

private:
    PluggedStateSource& source_;
    std::optional<PluggedStates> last_;
};

} // namespace ufd
