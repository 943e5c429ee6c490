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

struct JudgeCase {
    const char* name;
    std::vector<DiskChange> burst;
    std::set<std::string> present; // devpaths still in sysfs when judged
    NoticeKind expected;
};

class BurstJudgement : public ::testing::TestWithParam<JudgeCase> {};

TEST_P(BurstJudgement, GivesTheNoticeThatLeavesNoStaleView) {
    const JudgeCase& c = GetParam();
    const auto present = [&c](const std::string& devpath) { return c.present.count(devpath) != 0; };
    EXPECT_EQ(NoticeText(BurstCoalescer::Judge(c.burst, present)), NoticeText(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Bursts, BurstJudgement,
    ::testing::Values(
        JudgeCase{"OneArrival", {{A, "sdb"}}, {"sdb"}, NoticeKind::In},
        JudgeCase{"TwoDrivesTogether", {{A, "sdb"}, {A, "sdc"}}, {"sdb", "sdc"}, NoticeKind::In},
        JudgeCase{"ArrivalThenMediumChange", {{A, "sdb"}, {C, "sdb"}}, {"sdb"}, NoticeKind::In},
        JudgeCase{"ArrivalThenChangeButGoneAgain", {{A, "sdb"}, {C, "sdb"}}, {}, NoticeKind::Out},
        JudgeCase{"ChangeAlone", {{C, "sdb"}}, {"sdb"}, NoticeKind::Out},
        JudgeCase{"ChangeBeforeArrival", {{C, "sdb"}, {A, "sdb"}}, {"sdb"}, NoticeKind::Out},
        JudgeCase{
            "ChangeOfAnotherDrive", {{A, "sdb"}, {C, "sdc"}}, {"sdb", "sdc"}, NoticeKind::Out},
        JudgeCase{"OneRemoval", {{R, "sdb"}}, {}, NoticeKind::Out},
        JudgeCase{
            "ArrivalThenRemovalOfAnother", {{A, "sdc"}, {R, "sdb"}}, {"sdc"}, NoticeKind::Out},
        // The kind of the last event would say "IN" and leave sdb's handle.
        JudgeCase{
            "RemovalThenArrivalOfAnother", {{R, "sdb"}, {A, "sdc"}}, {"sdc"}, NoticeKind::Out},
        JudgeCase{"QuickReplug", {{R, "sdb"}, {A, "sdb"}}, {"sdb"}, NoticeKind::Out},
        JudgeCase{"PluggedAndPulledAtOnce", {{A, "sdb"}, {R, "sdb"}}, {}, NoticeKind::Out}),
    [](const ::testing::TestParamInfo<JudgeCase>& info) { return std::string(info.param.name); });

TEST(BurstCoalescer, WaitsForTheBurstToGoQuiet) {
    BurstCoalescer coalescer(milliseconds(150), milliseconds(600));
    const auto always = [](const std::string&) { return true; };
    const Clock::time_point t0{};
    EXPECT_FALSE(coalescer.Deadline());
    EXPECT_FALSE(coalescer.TakeIfDue(t0 + milliseconds(10000), always));

    coalescer.Add({A, "sdb"}, t0);
    EXPECT_EQ(coalescer.Deadline(), t0 + milliseconds(150));
    coalescer.Add({C, "sdb"}, t0 + milliseconds(100));
    // Each event pushes the end of the burst back.
    EXPECT_EQ(coalescer.Deadline(), t0 + milliseconds(250));
    EXPECT_FALSE(coalescer.TakeIfDue(t0 + milliseconds(249), always));

    const auto kind = coalescer.TakeIfDue(t0 + milliseconds(250), always);
    ASSERT_TRUE(kind);
    EXPECT_EQ(*kind, NoticeKind::In);
    // The burst is closed: nothing more comes out of it.
    EXPECT_FALSE(coalescer.Deadline());
    EXPECT_FALSE(coalescer.TakeIfDue(t0 + milliseconds(10000), always));
}

TEST(BurstCoalescer, AnEndlessStreamIsCutAtTheLongestBurst) {
    BurstCoalescer coalescer(milliseconds(150), milliseconds(600));
    const auto always = [](const std::string&) { return true; };
    const Clock::time_point t0{};
    for (int at = 0; at <= 700; at += 100) {
        coalescer.Add({A, "sd" + std::to_string(at)}, t0 + milliseconds(at));
    }
    EXPECT_EQ(coalescer.Deadline(), t0 + milliseconds(600));
    EXPECT_TRUE(coalescer.TakeIfDue(t0 + milliseconds(700), always));
}

TEST(BurstCoalescer, EventsAfterABurstStartTheNextOne) {
    BurstCoalescer coalescer;
    const auto always = [](const std::string&) { return true; };
    const Clock::time_point t0{};
    coalescer.Add({A, "sdb"}, t0);
    ASSERT_EQ(coalescer.TakeIfDue(t0 + milliseconds(200), always), NoticeKind::In);
    coalescer.Add({R, "sdb"}, t0 + milliseconds(300));
    EXPECT_EQ(coalescer.Deadline(), t0 + milliseconds(450));
    EXPECT_EQ(coalescer.TakeIfDue(t0 + milliseconds(450), always), NoticeKind::Out);
}

TEST(BurstCoalescer, NoPresenceCheckMeansAChangedArrivalIsNotTrusted) {
    EXPECT_EQ(BurstCoalescer::Judge({{A, "sdb"}, {C, "sdb"}}, nullptr), NoticeKind::Out);
    EXPECT_EQ(BurstCoalescer::Judge({{A, "sdb"}}, nullptr), NoticeKind::In);
}

} // namespace
} // namespace ufd
