// How Vasket turns what it sees into notices: a udev burst judged into one,
// the pending notice and its backoff, the rack's polls.
#include "monitor/burst_coalescer.h"
#include "monitor/pending_notice.h"
#include "monitor/rack_watch.h"

#include <gtest/gtest.h>

#include <deque>

namespace ufd {
namespace {

using std::chrono::milliseconds;

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
    const BurstCoalescer::Clock::time_point t0{};
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
    const BurstCoalescer::Clock::time_point t1 = t0 + milliseconds(1000);
    for (int at = 0; at <= 700; at += 100) {
        coalescer.Add({R, "sd" + std::to_string(at)}, t1 + milliseconds(at));
    }
    EXPECT_EQ(coalescer.Deadline(), t1 + milliseconds(600));
    EXPECT_EQ(coalescer.TakeIfDue(t1 + milliseconds(700), always), NoticeKind::Out);
}

TEST(PendingNotice, BacksOffWhileTheChannelIsMissing) {
    PendingNotice pending;
    PendingNotice::Clock::time_point now{};
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

PluggedStates Plugged(std::initializer_list<int> indexes) {
    PluggedStates states{};
    for (const int index : indexes) {
        states[index] = true;
    }
    return states;
}

// Readings in order; an empty optional is an unreadable rack.
class ScriptedRack final : public PluggedStateSource {
public:
    explicit ScriptedRack(std::vector<std::optional<PluggedStates>> readings)
        : readings_(readings.begin(), readings.end()) {}
    std::optional<PluggedStates> Read() override {
        if (!readings_.empty()) {
            last_ = readings_.front();
            readings_.pop_front();
        }
        return last_;
    }

private:
    std::deque<std::optional<PluggedStates>> readings_;
    std::optional<PluggedStates> last_;
};

TEST(RackWatch, PollsJudgeAgainstTheLastReadableStates) {
    using Kinds = std::vector<std::optional<NoticeKind>>;
    const auto none = std::optional<NoticeKind>();
    struct Case {
        std::vector<std::optional<PluggedStates>> readings; // the first one at Start
        Kinds notices;
    };
    const Case cases[] = {
        // Drives plugged before the start were found by the station itself.
        {{Plugged({1, 2}), Plugged({1, 2}), Plugged({1, 2, 5}), Plugged({2, 5})},
         {none, NoticeKind::In, NoticeKind::Out}},
        // A rack caught mid-rewrite neither pulls every drive nor hides the
        // change after it.
        {{Plugged({1}), std::nullopt, Plugged({1}), std::nullopt, Plugged({})},
         {none, none, none, NoticeKind::Out}},
        // Unreadable at start: its drives are news once it can be read.
        {{std::nullopt, std::nullopt, Plugged({4}), Plugged({4})}, {none, NoticeKind::In, none}},
        // A swap between two polls must still release the pulled drive; the
        // first and last indexes count like any other.
        {{Plugged({1}), Plugged({2}), Plugged({0, 2, 16}), Plugged({})},
         {NoticeKind::Out, NoticeKind::In, NoticeKind::Out}},
    };
    for (const Case& c : cases) {
        ScriptedRack rack(c.readings);
        RackWatch watch(rack);
        watch.Start();
        Kinds got;
        for (size_t i = 1; i < c.readings.size(); ++i) {
            got.push_back(watch.Poll());
        }
        EXPECT_EQ(got, c.notices);
    }
}

} // namespace
} // namespace ufd
