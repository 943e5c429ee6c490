// How Vasket turns what it sees into notices: a udev burst judged into one,
// the pending notice and its backoff, the rack's polls; whether its station
// is there, and the delivery that names the station's process.
#include "monitor/burst_coalescer.h"
#include "monitor/notice_delivery.h"
#include "monitor/pending_notice.h"
#include "monitor/rack_watch.h"
#include "monitor/station_presence.h"
#include "platform/notice_channel.h"

#include <QCoreApplication>
#include <QUuid>

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

// How Vasket tells whether its station is there, and the delivery that
// names the station's process.

QString UniqueChannel() {
    return QStringLiteral("ufd-monitor-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

TEST(StationPresence, SeesARealNoticeServerComeAndGo) {
    const QString channel = UniqueChannel();
    EXPECT_FALSE(ChannelSocketFile(channel));
    std::optional<SocketFileIdentity> first;
    {
        NoticeServer server;
        ASSERT_TRUE(server.Listen(channel));
        first = ChannelSocketFile(channel);
        ASSERT_TRUE(first);
        EXPECT_TRUE(ChannelLooksListening(first, std::nullopt));
        // The file that refused a notice is not trusted again...
        EXPECT_FALSE(ChannelLooksListening(first, first));
    }
    // ...and a station that closed its channel took the file with it.
    EXPECT_FALSE(ChannelSocketFile(channel));
    // A station listening again makes a new file, which counts. The older
    // server stays bound, so its inode cannot be handed out again.
    NoticeServer again;
    ASSERT_TRUE(again.Listen(channel));
    const auto refused = ChannelSocketFile(channel);
    NoticeServer third;
    ASSERT_TRUE(third.Listen(channel));
    EXPECT_TRUE(ChannelLooksListening(ChannelSocketFile(channel), refused));
}

TEST(StationPresence, ProcessIdsAndTheGracePeriod) {
    EXPECT_EQ(ParseProcessId(" 17\n"), 17);
    for (const char* bad : {"", "0", "-5", "12x", "99999999999999999999", "1.5"}) {
        EXPECT_FALSE(ParseProcessId(bad)) << bad;
    }
    OrphanRule rule(milliseconds(50000));
    const OrphanRule::Clock::time_point t0{};
    rule.Observe(true, t0);
    EXPECT_FALSE(rule.Orphaned(t0 + milliseconds(120000)));
    rule.Observe(false, t0 + milliseconds(1000));
    rule.Observe(false, t0 + milliseconds(30000));
    EXPECT_FALSE(rule.Orphaned(t0 + milliseconds(50999)));
    // A listener seen in between starts the count again.
    rule.Observe(true, t0 + milliseconds(40000));
    rule.Observe(false, t0 + milliseconds(50000));
    EXPECT_FALSE(rule.Orphaned(t0 + milliseconds(99999)));
    EXPECT_TRUE(rule.Orphaned(t0 + milliseconds(100000)));
}

// The bytes themselves are the Vasket test's: it reads them off a real server.
TEST(NoticeDelivery, NamesTheListenersProcess) {
    const QString channel = UniqueChannel();
    EXPECT_FALSE(DeliverNotice("IN", channel, 500).delivered) << "nobody listens yet";
    NoticeServer server;
    ASSERT_TRUE(server.Listen(channel));
    const Delivery delivery = DeliverNotice("OUT", channel, 2000);
    EXPECT_TRUE(delivery.delivered);
    EXPECT_EQ(delivery.listener, QCoreApplication::applicationPid());
}

} // namespace
} // namespace ufd
