// Turns a burst of disk events into one notice.
//
// One plug gives several events within a few milliseconds (the disk, a
// "change" once its medium is read, and more when two drives go in
// together), and the station acts on the last notice only. So events are
// gathered until the burst has been quiet for a moment (or has lasted too
// long), then judged as a whole:
//  - any removal makes the notice "OUT", even when the drive came back in
//    the same burst: its old handle is dead and must be released;
//  - a "change" of a disk that arrived in the same burst belongs to the
//    arrival: "IN" if the disk is still there, "OUT" if it is not;
//  - a "change" on its own (medium swapped, partition table reread) is
//    "OUT": the station's view of that drive may be stale;
//  - arrivals alone are "IN".
// Simply sending the kind of the last event would be wrong for "remove A,
// add B" (the station would keep A's handle).
#pragma once

#include "monitor/device_filter.h"
#include "monitor/notice_kind.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ufd {

class BurstCoalescer {
public:
    using Clock = std::chrono::steady_clock;
    using Presence = std::function<bool(const std::string& devpath)>;

    static constexpr std::chrono::milliseconds kQuiet{150};
    static constexpr std::chrono::milliseconds kLongest{600};

    explicit BurstCoalescer(std::chrono::milliseconds quiet = kQuiet,
                            std::chrono::milliseconds longest = kLongest);

    void Add(const DiskChange& change, Clock::time_point now);
    // When the gathered burst is to be judged; nothing when none is open.
    std::optional<Clock::time_point> Deadline() const;
    // The burst's notice once its deadline has passed (and the burst is
    // then closed); nothing before that or when there was no event.
    std::optional<NoticeKind> TakeIfDue(Clock::time_point now, const Presence& present);

    // The judgement of one burst of changes, in arrival order.
    static NoticeKind Judge(const std::vector<DiskChange>& burst, const Presence& present);

private:
    std::chrono::milliseconds quiet_;
    std::chrono::milliseconds longest_;
    std::vector<DiskChange> burst_;
    Clock::time_point first_{};
    Clock::time_point last_{};
};

} // namespace ufd
