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
    for (const int delay : {100, 200, 400, 800, 1600, 2000, 2000}) {
        pending.Failed(now);
        EXPECT_EQ(pending.NextAttempt(), now + milliseconds(delay));
        EXPECT_FALSE(pending.Due(now + milliseconds(delay - 1))) << "retried early after " << delay;
        now += milliseconds(delay);
        EXPECT_EQ(pending.Due(now), NoticeKind::In);
    }
    // A new change is tried at once but keeps the backoff level.
    pending.Post(NoticeKind::In, now);
    EXPECT_EQ(pending.Due(now), NoticeKind::In);
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

TEST(PendingNotice, KeepsOneNoticeWhateverPilesUp) {
    using K = NoticeKind;
    const std::optional<K> delivered; // a delivery between the posts
    const std::vector<std::pair<std::vector<std::optional<K>>, K>> cases = {
        {{K::In, K::In, K::In}, K::In},
        {{K::In, K::Out}, K::Out},
        // A later arrival does not hide an earlier removal...
        {{K::Out, K::In}, K::Out},
        // ...until the removal was delivered.
        {{K::Out, delivered, K::In}, K::In},
    };
    for (const auto& [posted, waiting] : cases) {
        PendingNotice pending;
        for (const std::optional<K> kind : posted) {
            if (!kind) {
                pending.Delivered();
                continue;
            }
            pending.Post(*kind, Clock::time_point{});
            pending.Failed(Clock::time_point{});
        }
        ASSERT_TRUE(pending.Waiting());
        EXPECT_EQ(pending.Kind(), waiting);
    }
}

} // namespace
} // namespace ufd
