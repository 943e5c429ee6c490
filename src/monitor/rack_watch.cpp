#include "monitor/rack_watch.h"

namespace ufd {

std::optional<NoticeKind> CompareRack(const PluggedStates& before, const PluggedStates& after) {
    bool arrived = false;
    for (int index = 0; index < kRackIndexes; ++index) {
        if (before[index] && !after[index]) {
            return NoticeKind::Out;
        }
        arrived = arrived || (!before[index] && after[index]);
    }
    return arrived ? std::optional<NoticeKind>(NoticeKind::In) : std::nullopt;
}

RackWatch::RackWatch(PluggedStateSource& source) : source_(source) {}

void RackWatch::Start() {
    last_ = source_.Read();
}

std::optional<NoticeKind> RackWatch::Poll() {
    const std::optional<PluggedStates> now = source_.Read();
    if (!now) {
        return std::nullopt;
    }
    if (!last_) {
        // The rack was unreadable at start; from its first good reading on,
        // every drive in it is news to the station.
        last_ = PluggedStates{};
    }
    const std::optional<NoticeKind> kind = CompareRack(*last_, *now);
    last_ = now;
    return kind;
}

} // namespace ufd
