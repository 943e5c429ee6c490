#include "monitor/burst_coalescer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace ufd {
namespace {

using std::chrono::milliseconds;
using Clock = BurstCoalescer::Clock;

constexpr DiskAction A = DiskAction::Added;
constexpr DiskAction R = DiskAction::Removed;
constexpr DiskAction C = DiskAction::Changed;

TEST(BurstCoalescer, JudgementLeavesNoStaleView) {
    struct Case {
        std::vector<DiskChange> burst;
        std::set<std::string> present; // devpaths still in sysfs when judged
        NoticeKind expected;
    };
    const Case cases[] = {
        {{{A, "sdb"}}, {"sdb"}, NoticeKind::In},
        {{{A, "sdb"}, {A, "sdc"}}, {"sdb", "sdc"}, NoticeKind::In},
        {{{A, "sdb"}, {C, "sdb"}}, {"sdb"}, NoticeKind::In},
        {{{A, "sdb"}, {C, "sdb"}}, {}, NoticeKind::Out},
        {{{C, "sdb"}}, {"sdb"}, NoticeKind::Out},
        {{{C, "sdb"}, {A, "sdb"}}, {"sdb"}, NoticeKind::Out},
        {{{A, "sdb"}, {C, "sdc"}}, {"sdb", "sdc"}, NoticeKind::Out},
        {{{R, "sdb"}}, {}, NoticeKind::Out},
        {{{A, "sdc"}, {R, "sdb"}}, {"sdc"}, NoticeKind::Out},
        // The kind of the last event would say "IN" and leave sdb's handle.
        {{{R, "sdb"}, {A, "sdc"}}, {"sdc"}, NoticeKind::Out},
        {{{R, "sdb"}, {A, "sdb"}}, {"sdb"}, NoticeKind::Out},
        {{{A, "sdb"}, {R, "sdb"}}, {}, NoticeKind::Out},
    };
    for (const Case& c : cases) {
        const auto present = [&c](const std::string& p) { return c.present.count(p) != 0; };
        EXPECT_EQ(BurstCoalescer::Judge(c.burst, present), c.expected) << c.burst.size();
    }
    // Without a presence check a changed arrival is not trusted.
    EXPECT_EQ(BurstCoalescer::Judge({{A, "sdb"}, {C, "sdb"}}, nullptr), NoticeKind::Out);
    EXPECT_EQ(BurstCoalescer::Judge({{A, "sdb"}}, nullptr), NoticeKind::In);
}

TEST(BurstCoalescer, WaitsForTheBurstToGoQuietButNotForever) {
    BurstCoalescer coalescer(milliseconds(150), milliseconds(600));
    const auto always = [](const std::string&) { return true; };
    const Clock::time_point t0{};
    EXPECT_FALSE(coalescer.Deadline());
    coalescer.Add({A, "sdb"}, t0);
    EXPECT_EQ(coalescer.Deadline(), t0 + milliseconds(150));
    coalescer.Add({C, "sdb"}, t0 + milliseconds(100));
    // Each event pushes the end of the burst back.
    EXPECT_EQ(coalescer.Deadline(), t0 + milliseconds(250));
    EXPECT_FALSE(coalescer.TakeIfDue(t0 + milliseconds(249), always));
    EXPECT_EQ(coalescer.TakeIfDue(t0 + milliseconds(250), always), NoticeKind::In);
    EXPECT_FALSE(coalescer.Deadline()) << "the burst is closed";
    EXPECT_FALSE(coalescer.TakeIfDue(t0 + milliseconds(10000), always));

    // The next events start the next burst; an endless stream is cut at the
    // longest burst.
    const Clock::time_point t1 = t0 + milliseconds(1000);
    for (int at = 0; at <= 700; at += 100) {
        coalescer.Add({R, "sd" + std::to_string(at)}, t1 + milliseconds(at));
    }
    EXPECT_EQ(coalescer.Deadline(), t1 + milliseconds(600));
    EXPECT_EQ(coalescer.TakeIfDue(t1 + milliseconds(700), always), NoticeKind::Out);
}

} // namespace
} // namespace ufd
