#include "monitor/pending_notice.h"

#include <algorithm>

namespace ufd {

void PendingNotice::Post(NoticeKind kind, Clock::time_point now) {
    kind_ = kind_ ? Combine(*kind_, kind) : kind;
    next_ = now;
}

std::optional<PendingNotice::Clock::time_point> PendingNotice::NextAttempt() const {
    if (!kind_) {
        return std::nullopt;
    }
    return next_;
}

std::optional<NoticeKind> PendingNotice::Due(Clock::time_point now) const {
    if (!kind_ || now < next_) {
        return std::nullopt;
    }
    return kind_;
}

void PendingNotice::Delivered() {
    kind_.reset();
    delay_ = std::chrono::milliseconds{0};
}

void PendingNotice::Failed(Clock::time_point now) {
    delay_ = delay_.count() == 0 ? kFirstRetry : std::min(delay_ * 2, kLongestRetry);
    next_ = now + delay_;
}

} // namespace ufd
