#include "monitor/pending_notice.h"

#include <gtest/gtest.h>

namespace ufd {
namespace {

using std::chrono::milliseconds;
using Clock = PendingNotice::Clock;

TEST(PendingNotice, BacksOffWhileTheChannelIsMissing) {
    PendingNotice pending;
    Clock::time_point now{};
    pending.Post(NoticeKind::In, now);
    ASSERT_EQ(pending.Due(now), NoticeKind::In);
    for (const int delay : {100, 200, 400, 800, 1600, 2000, 2000}) {
        pending.Failed(now);
        EXPECT_EQ(pending.NextAttempt(), now + milliseconds(delay));
        EXPECT_FALSE(pending.Due(now + milliseconds(delay - 1))) << "retried early after " << delay;
        now += milliseconds(delay);
        EXPECT_EQ(pending.Due(now), NoticeKind::In);
    }
    // A new change is tried at once but keeps the backoff level; one notice
    // is kept whatever piles up, and "OUT" covers an arrival (an arrival
    // after a removal is the Vasket test's).
    pending.Post(NoticeKind::In, now);
    EXPECT_EQ(pending.Due(now), NoticeKind::In);
    pending.Post(NoticeKind::Out, now);
    EXPECT_EQ(pending.Due(now), NoticeKind::Out);
    pending.Failed(now);
    EXPECT_EQ(pending.CurrentDelay(), milliseconds(2000));
    // Delivery clears the notice and the backoff.
    pending.Delivered();
    EXPECT_FALSE(pending.Waiting());
    EXPECT_FALSE(pending.NextAttempt());
    pending.Post(NoticeKind::In, now);
    pending.Failed(now);
    EXPECT_EQ(pending.CurrentDelay(), milliseconds(100));
}

} // namespace
} // namespace ufd
