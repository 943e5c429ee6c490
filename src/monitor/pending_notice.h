// The one notice waiting to reach the station. While the channel is
// missing, attempts back off (no busy loop) and new changes fold into the
// waiting notice instead of queueing up behind it.
#pragma once

#include "monitor/notice_kind.h"

#include <chrono>
#include <optional>

namespace ufd {

class PendingNotice {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds kFirstRetry{100};
    static constexpr std::chrono::milliseconds kLongestRetry{2000};

    // A new change: folded into the waiting one (see Combine) and tried at
    // once, since the station may just have come up.
    void Post(NoticeKind kind, Clock::time_point now);

    // When to try next; nothing when no notice waits.
    std::optional<Clock::time_point> NextAttempt() const;
    // The notice to send now, if one waits and its time has come.
    std::optional<NoticeKind> Due(Clock::time_point now) const;

    void Delivered();
    // The attempt failed: wait twice as long as last time, up to the limit.
    void Failed(Clock::time_point now);

private:
    std::optional<NoticeKind> kind_;
    Clock::time_point next_{};
    std::chrono::milliseconds delay_{0};
};

} // namespace ufd
