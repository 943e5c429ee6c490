#include "monitor/burst_coalescer.h"

#include <algorithm>
#include <map>

namespace ufd {

BurstCoalescer::BurstCoalescer(std::chrono::milliseconds quiet, std::chrono::milliseconds longest)
    : quiet_(quiet), longest_(std::max(quiet, longest)) {}

void BurstCoalescer::Add(const DiskChange& change, Clock::time_point now) {
    if (burst_.empty()) {
        first_ = now;
    }
    last_ = now;
    burst_.push_back(change);
}

std::optional<BurstCoalescer::Clock::time_point> BurstCoalescer::Deadline() const {
    if (burst_.empty()) {
        return std::nullopt;
    }
    return std::min(last_ + quiet_, first_ + longest_);
}

std::optional<NoticeKind> BurstCoalescer::TakeIfDue(Clock::time_point now,
                                                    const Presence& present) {
    const auto deadline = Deadline();
    if (!deadline || now < *deadline) {
        return std::nullopt;
    }
    const NoticeKind kind = Judge(burst_, present);
    burst_.clear();
    return kind;
}

NoticeKind BurstCoalescer::Judge(const std::vector<DiskChange>& burst, const Presence& present) {
    struct Seen {
        bool added = false;
        bool removed = false;
        bool changedAlone = false; // a change with no arrival before it
        bool changedAfterAdd = false;
    };
    std::map<std::string, Seen> devices;
    for (const DiskChange& change : burst) {
        Seen& seen = devices[change.devpath];
        switch (change.action) {
        case DiskAction::Added:
            seen.added = true;
            break;
        case DiskAction::Removed:
            seen.removed = true;
            break;
        case DiskAction::Changed:
            (seen.added ? seen.changedAfterAdd : seen.changedAlone) = true;
            break;
        }
    }
    bool anyArrival = false;
    for (const auto& [devpath, seen] : devices) {
        if (seen.removed || seen.changedAlone) {
            return NoticeKind::Out;
        }
        if (seen.changedAfterAdd && !(present && present(devpath))) {
            return NoticeKind::Out;
        }
        anyArrival = anyArrival || seen.added;
    }
    return anyArrival ? NoticeKind::In : NoticeKind::Out;
}

} // namespace ufd
