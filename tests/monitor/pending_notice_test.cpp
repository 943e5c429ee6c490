#include "monitor/pending_notice.h"

#include <gtest/gtest.h>

#include <vector>

namespace ufd {
namespace {

using std::chrono::milliseconds;
using Clock = PendingNotice::Clock;

TEST(PendingNotice, BacksOffWhileTheChannelIsMissing) {
    PendingNotice pending;
    Clock::time_point now{};
    pending.Post(NoticeKind::In, now);
    ASSERT_EQ(pending.Due(now), NoticeKind::In);

    const std::vector<int> expected = {100, 200, 400, 800, 1600, 2000, 2000, 2000};
    for (const int delay : expected) {
        pending.Failed(now);
        EXPECT_EQ(pending.CurrentDelay(), milliseconds(delay));
        EXPECT_EQ(pending.NextAttempt(), now + milliseconds(delay));
        EXPECT_FALSE(pending.Due(now + milliseconds(delay - 1))) << "retried early after " << delay;
        now += milliseconds(delay);
        EXPECT_EQ(pending.Due(now), NoticeKind::In);
    }
}

TEST(PendingNotice, KeepsOneNoticeWhateverPilesUp) {
    struct Case {
        std::vector<NoticeKind> posted;
        NoticeKind waiting;
    };
    const std::vector<Case> cases = {
        {{NoticeKind::In, NoticeKind::In, NoticeKind::In}, NoticeKind::In},
        {{NoticeKind::In, NoticeKind::Out}, NoticeKind::Out},
        // A later arrival does not hide an earlier removal.
        {{NoticeKind::Out, NoticeKind::In}, NoticeKind::Out},
        {{NoticeKind::Out, NoticeKind::Out}, NoticeKind::Out},
    };
    for (const Case& c : cases) {
        PendingNotice pending;
        const Clock::time_point now{};
        for (const NoticeKind kind : c.posted) {
            pending.Post(kind, now);
            pending.Failed(now);
        }
        ASSERT_TRUE(pending.Waiting());
        EXPECT_EQ(pending.Kind(), c.waiting);
    }
}

TEST(PendingNotice, ANewChangeIsTriedAtOnceButKeepsTheBackoffLevel) {
    PendingNotice pending;
    Clock::time_point now{};
    pending.Post(NoticeKind::In, now);
    pending.Failed(now);
    pending.Failed(now);
    ASSERT_EQ(pending.CurrentDelay(), milliseconds(200));
    now += milliseconds(50);
    pending.Post(NoticeKind::In, now);
    EXPECT_EQ(pending.Due(now), NoticeKind::In);
    pending.Failed(now);
    EXPECT_EQ(pending.CurrentDelay(), milliseconds(400));
}

TEST(PendingNotice, DeliveryClearsTheNoticeAndTheBackoff) {
    PendingNotice pending;
    const Clock::time_point now{};
    EXPECT_FALSE(pending.Waiting());
    EXPECT_FALSE(pending.NextAttempt());
    pending.Post(NoticeKind::Out, now);
    pending.Failed(now);
    pending.Delivered();
    EXPECT_FALSE(pending.Waiting());
    EXPECT_FALSE(pending.Due(now + milliseconds(10000)));
    EXPECT_FALSE(pending.NextAttempt());
    pending.Post(NoticeKind::In, now);
    // After a delivery an earlier "OUT" no longer colours the next notice.
    EXPECT_EQ(pending.Kind(), NoticeKind::In);
    pending.Failed(now);
    EXPECT_EQ(pending.CurrentDelay(), milliseconds(100));
}

TEST(NoticeText, IsExactlyTheBytesTheStationCompares) {
    EXPECT_EQ(NoticeText(NoticeKind::In), QByteArray("IN", 2));
    EXPECT_EQ(NoticeText(NoticeKind::Out), QByteArray("OUT", 3));
}

} // namespace
} // namespace ufd
