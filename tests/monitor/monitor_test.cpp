// Vasket's pieces: the udev filter on recorded device chains, bursts judged into one notice, the
// pending notice and its backoff, the rack's polls, the station's presence; the monitor wired to
// scripted drives and channel; the real Vasket binary's own life.
#include "monitor/device_filter.h"
#include "monitor/monitor.h"
#include "monitor/udev_events.h"
#include "platform/notice_channel.h"
#include "support/test_common.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <libudev.h>
#include <sys/eventfd.h>

#include <deque>

namespace ufd {

using Kinds = std::vector<std::optional<NoticeKind>>;
using Notices = std::vector<QByteArray>;
constexpr DiskAction A = DiskAction::Added, R = DiskAction::Removed, C = DiskAction::Changed;
constexpr NoticeKind In = NoticeKind::In, Out = NoticeKind::Out;
using Chain = std::vector<DeviceNode>;

// Nodes as udevadm shows them for the kinds of disk a line PC meets; an empty ID_USB_DRIVER is
// as good as none.
DeviceNode Block(const std::string& devtype, const std::string& usb = "") {
    return {"block", devtype, "", {{"ID_USB_DRIVER", usb}}};
}
DeviceNode Node(const std::string& subsystem, const std::string& type, const std::string& driver) {
    return {subsystem, type, driver, {}};
}
const DeviceNode kUsbDevice = Node("usb", "usb_device", "usb"), kPci = Node("pci", "", "xhci_hcd"),
                 kSd = Node("scsi", "scsi_device", "sd"), kHost = Node("scsi", "scsi_host", ""),
                 kTarget = Node("scsi", "scsi_target", "");
DeviceNode Usb(const std::string& driver) {
    return Node("usb", "usb_interface", driver);
}
Chain UsbStick(const std::string& driver, const std::string& devtype = "disk") {
    return {Block(devtype, driver), kSd, kTarget, kHost, Usb(driver), kUsbDevice, kUsbDevice, kPci};
}
const Chain kSata{Block("disk"), kSd, kHost, Node("pci", "", "ahci")};
const std::string kStick =
    "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block/sdb";

TEST(DeviceFilter, OnlyWholeUsbStorageDisks) {
    const std::pair<Chain, bool> cases[] = {
        {UsbStick("usb-storage"), true},
        {UsbStick("uas"), true},
        {UsbStick("usb-storage", "partition"), false},
        {kSata, false},
        {{Block("disk", "usb-storage"), Usb("usbfs"), kUsbDevice}, false},
        // Removed: sysfs is gone and udev hands over the node's properties.
        {{Block("disk", "usb-storage")}, true},
        {{Block("disk", "uas"), Node("scsi", "scsi_device", "")}, true},
        {{Block("disk")}, false},
        {{Block("partition", "usb-storage")}, false},
        {{Block(""), Node("scsi", "scsi_device", "sr"), Usb("usb-storage")}, false},
        {{}, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(IsUsbStorageDisk(cases[i].first), cases[i].second) << "case " << i;
    }
}

TEST(DeviceFilter, TrackerFollowsADiskThroughAddChangeAndBareRemove) {
    UsbDiskTracker tracker;
    std::vector<std::pair<DiskAction, std::string>> changes;
    const auto feed = [&](const std::string& action, const std::string& devpath, Chain chain) {
        if (const auto change = tracker.Classify({action, devpath, std::move(chain)})) {
            changes.emplace_back(change->action, change->devpath);
        }
    };
    for (const char* action : {"bind", "unbind", "move", "online", "offline", ""}) {
        feed(action, kStick, UsbStick("usb-storage"));
    }
    for (const char* action : {"add", "change", "remove"}) {
        feed(action, "/devices/pci0000:00/ata1/block/sda", kSata);
        feed(action, kStick + "/sdb1", UsbStick("uas", "partition"));
    }
    // A bare remove names a USB disk only when the tracker saw it arrive.
    feed("remove", "/devices/virtual/block/loop3", {Block("disk")});
    feed("add", kStick, UsbStick("usb-storage"));
    feed("change", kStick, UsbStick("usb-storage"));
    feed("remove", kStick, {Block("disk")});
    EXPECT_EQ(changes, (decltype(changes){{A, kStick}, {C, kStick}, {R, kStick}}));
    EXPECT_FALSE(tracker.Knows(kStick));
}

// The monitor on scripted drives (events through an eventfd, so its socket notifier wakes as for
// udev's netlink socket; /sdc there at the start, /sdb still in sysfs) and a channel that takes
// notices while it is up.
class MonitorTest : public ::testing::Test, public DeviceEventSource {
protected:
    MonitorTest() {
        monitor.SetSender([this](const QByteArray& text, std::optional<pid_t>* listener) {
            *listener = listenerPid;
            return channelUp && (delivered.push_back(text), true);
        });
        monitor.SetListenerProbe([] { return true; });
    }
    ~MonitorTest() override { ::close(fd); }
    void Push(const std::vector<DeviceEvent>& events) {
        queued.insert(queued.end(), events.begin(), events.end());
        EXPECT_EQ(::eventfd_write(fd, 1), 0);
    }
    int Descriptor() const override { return fd; }
    std::vector<DeviceEvent> Drain() override {
        eventfd_t pushes = 0;
        EXPECT_EQ(::eventfd_read(fd, &pushes), 0);
        return std::exchange(queued, {});
    }
    std::vector<std::string> PresentUsbDisks() override { return {"/sdc"}; }
    bool Present(const std::string& devpath) override { return devpath == "/sdb"; }

    const int fd = ::eventfd(0, EFD_CLOEXEC);
    std::vector<DeviceEvent> queued;
    bool channelUp = false;
    std::optional<pid_t> listenerPid;
    Notices delivered;
    Monitor monitor{MonitorSettings{}}; // grace 50 s: the listener rule cannot end a test
};

// One notice per burst, retried until the channel is there; a station that gave no pid is
// followed from the notice it took.
TEST_F(MonitorTest, UdevBurstsReachALateChannelAndItsListenerIsFollowed) {
    QProcess station;
    station.start("sleep", {"600"});
    ASSERT_TRUE(station.waitForStarted());
    listenerPid = static_cast<pid_t>(station.processId());
    QSignalSpy ended(&monitor, &Monitor::Ended);
    monitor.WatchStation();
    monitor.WatchDevices(*this);
    Push({{"add", "/sdb", UsbStick("usb-storage")}});
    Push({{"change", "/sdb", UsbStick("usb-storage")}});
    QTest::qWait(500);
    channelUp = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !delivered.empty(); }, 2500));
    QTest::qWait(300);
    EXPECT_EQ(delivered, Notices{"IN"});
    // The bare remove event of a disk there at the start names nothing USB.
    Push({{"remove", "/sdc", {Block("disk")}}});
    EXPECT_TRUE(QTest::qWaitFor([&] { return delivered == Notices{"IN", "OUT"}; }, 5000));
    EXPECT_TRUE(ended.isEmpty());
    station.kill();
    EXPECT_TRUE(ended.wait(5000));
}

// libudev's own objects for this machine's block devices name their sysfs folder; their kind and
// action, and what a real plug looks like, are the VM suite's (its vasket case).
TEST(UdevDevices, DescribesEveryBlockDeviceOfThisMachineByItsSysfsFolder) {
    const std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), &udev_unref);
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/sys/class/block", error)) {
        const fs::path real = fs::canonical(entry.path(), error);
        const std::unique_ptr<udev_device, decltype(&udev_device_unref)> device(
            udev_device_new_from_syspath(context.get(), real.c_str()), &udev_device_unref);
        const std::string devpath = DescribeDevice(device.get()).devpath;
        EXPECT_EQ(std::pair("/sys" + devpath, DevicePresent(devpath)),
                  std::pair(real.string(), true));
    }
    EXPECT_FALSE(DevicePresent("/devices/virtual/block/no-such-disk-here") || DevicePresent(""));
}

TEST(BurstCoalescer, JudgementLeavesNoStaleView) {
    // A burst; the devpaths still in sysfs when it is judged; the notice.
    const std::tuple<std::vector<DiskChange>, std::set<std::string>, NoticeKind> cases[] = {
        {{{A, "sdb"}}, {"sdb"}, In},
        {{{A, "sdb"}, {C, "sdb"}}, {"sdb"}, In},
        {{{A, "sdb"}, {C, "sdb"}}, {}, Out},
        {{{C, "sdb"}, {A, "sdb"}}, {"sdb"}, Out},
        {{{A, "sdb"}, {C, "sdc"}}, {"sdb", "sdc"}, Out},
        // The kind of the last event would say "IN" and leave sdb's handle.
        {{{R, "sdb"}, {A, "sdc"}}, {"sdc"}, Out},
        {{{R, "sdb"}, {A, "sdb"}}, {"sdb"}, Out},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [burst, present, expected] = cases[i];
        const auto there = [&](const std::string& p) { return present.contains(p); };
        EXPECT_EQ(BurstCoalescer::Judge(burst, there), expected) << "case " << i;
    }
}

TEST(BurstCoalescer, WaitsForTheBurstToGoQuietButNotForever) {
    BurstCoalescer coalescer(150ms, 600ms);
    const auto always = [](const std::string&) { return true; };
    const BurstCoalescer::Clock::time_point t0{}, t1 = t0 + 1000ms;
    EXPECT_FALSE(coalescer.Deadline());
    coalescer.Add({A, "sdb"}, t0);
    EXPECT_EQ(coalescer.Deadline(), t0 + 150ms);
    coalescer.Add({C, "sdb"}, t0 + 100ms); // each event pushes the end of the burst back
    EXPECT_EQ(coalescer.Deadline(), t0 + 250ms);
    EXPECT_FALSE(coalescer.TakeIfDue(t0 + 249ms, always));
    EXPECT_EQ(coalescer.TakeIfDue(t0 + 250ms, always), In);
    EXPECT_FALSE(coalescer.Deadline()) << "the burst is closed";
    EXPECT_FALSE(coalescer.TakeIfDue(t0 + 10000ms, always));
    // The next events start the next burst; an endless stream is cut at the longest burst.
    for (int at = 0; at <= 700; at += 100) {
        coalescer.Add({R, "sd" + std::to_string(at)}, t1 + std::chrono::milliseconds(at));
    }
    EXPECT_EQ(coalescer.Deadline(), t1 + 600ms);
    EXPECT_EQ(coalescer.TakeIfDue(t1 + 700ms, always), Out);
}

TEST(PendingNotice, BacksOffWhileTheChannelIsMissing) {
    PendingNotice pending;
    PendingNotice::Clock::time_point now{};
    pending.Post(In, now);
    ASSERT_EQ(pending.Due(now), In);
    for (const auto delay : {100ms, 200ms, 400ms, 800ms, 1600ms, 2000ms, 2000ms}) {
        pending.Failed(now);
        EXPECT_EQ(pending.NextAttempt(), now + delay);
        EXPECT_FALSE(pending.Due(now + delay - 1ms)) << "retried early after " << delay.count();
        now += delay;
        EXPECT_EQ(pending.Due(now), In);
    }
    // A new change is tried at once but keeps the backoff level; one notice is kept whatever
    // piles up, and "OUT" covers an arrival, before or after it.
    for (const auto& [post, due] : {std::pair(In, In), std::pair(Out, Out), std::pair(In, Out)}) {
        pending.Post(post, now);
        EXPECT_EQ(pending.Due(now), due);
    }
    pending.Failed(now);
    EXPECT_EQ(pending.NextAttempt(), now + 2000ms);
    // Delivery clears the notice and the backoff.
    pending.Delivered();
    EXPECT_FALSE(pending.NextAttempt() || pending.Due(now + 1h));
    pending.Post(In, now);
    pending.Failed(now);
    EXPECT_EQ(pending.NextAttempt(), now + 100ms);
}

// Readings in order; an empty optional is an unreadable rack.
struct ScriptedRack final : PluggedStateSource {
    std::optional<PluggedStates> Read() override { return readings.at(next++); }
    std::vector<std::optional<PluggedStates>> readings;
    size_t next = 0;
};

TEST(RackWatch, PollsJudgeAgainstTheLastReadableStates) {
    const auto plugged = [](std::initializer_list<int> indexes) {
        PluggedStates states{};
        for (const int index : indexes) {
            states.at(index) = true;
        }
        return std::optional(states);
    };
    const std::optional<PluggedStates> unreadable;
    const std::pair<std::vector<std::optional<PluggedStates>>, Kinds> cases[] = {
        // The first reading is Start's (its drives were found by the station); a rack caught
        // mid-rewrite neither pulls every drive nor hides the change after it.
        {{plugged({1}), unreadable, plugged({1}), unreadable, plugged({})}, {{}, {}, {}, Out}},
        // Unreadable at start: its drives are news once it can be read.
        {{unreadable, unreadable, plugged({4}), plugged({4})}, {{}, In, {}}},
        // A swap between two polls still releases the pulled drive; the end indexes count alone.
        {{plugged({}), plugged({16}), plugged({0}), plugged({})}, {In, Out, Out}},
    };
    for (const auto& [readings, notices] : cases) {
        ScriptedRack rack;
        rack.readings = readings;
        RackWatch watch(rack);
        watch.Start();
        Kinds got(notices.size());
        std::generate(got.begin(), got.end(), [&] { return watch.Poll(); });
        EXPECT_EQ(got, notices);
    }
}

// A notice names the listener's process; a socket file that refused one is not trusted again.
TEST(StationPresence, NoticesNameTheirListenerAndARefusingSocketFileIsDistrusted) {
    const QString channel = "ufd-monitor-test-" + QUuid::createUuid().toString(QUuid::Id128);
    EXPECT_FALSE(ChannelSocketFile(channel));
    EXPECT_FALSE(DeliverNotice("IN", channel, 500).delivered) << "nobody listens yet";
    NoticeServer first, again; // the first stays bound, so its inode cannot be handed out again
    ASSERT_TRUE(first.Listen(channel));
    const Delivery delivery = DeliverNotice("OUT", channel, 2000);
    EXPECT_TRUE(delivery.delivered);
    EXPECT_EQ(delivery.listener, QCoreApplication::applicationPid());
    const auto refused = ChannelSocketFile(channel);
    EXPECT_TRUE(ChannelLooksListening(refused, std::nullopt));
    EXPECT_FALSE(ChannelLooksListening(refused, refused));
    // A station listening again makes a new file, which counts.
    ASSERT_TRUE(again.Listen(channel));
    EXPECT_TRUE(ChannelLooksListening(ChannelSocketFile(channel), refused));
}

TEST(StationPresence, ProcessIdsAndTheGracePeriod) {
    EXPECT_EQ(ParseProcessId(" 17\n"), 17);
    for (const char* bad : {"", "0", "-5", "12x", "99999999999999999999", "1.5"}) {
        EXPECT_FALSE(ParseProcessId(bad)) << bad;
    }
    OrphanRule rule(50000ms);
    const OrphanRule::Clock::time_point t0{};
    rule.Observe(true, t0);
    EXPECT_FALSE(rule.Orphaned(t0 + 120000ms));
    rule.Observe(false, t0 + 1000ms);
    rule.Observe(false, t0 + 30000ms);
    EXPECT_FALSE(rule.Orphaned(t0 + 50999ms));
    rule.Observe(true, t0 + 40000ms); // a listener seen in between starts the count again
    rule.Observe(false, t0 + 50000ms);
    EXPECT_FALSE(rule.Orphaned(t0 + 99999ms));
    EXPECT_TRUE(rule.Orphaned(t0 + 100000ms));
}

// The real Vasket binary in real-drive mode (no USB drive here to plug, so only its own life
// shows), each test with its own channel and runtime directory.
class Vasket : public ::testing::Test {
protected:
    Vasket() {
        env.remove("UFD_MONITOR_GRACE_SECONDS");
        env.remove("QUORLINK_RACK");
        env.insert("UFD_NOTICE_CHANNEL", channel);
        env.insert("XDG_RUNTIME_DIR", dir.path());
        qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit()); // where this test's server is
    }
    ~Vasket() override { qunsetenv("XDG_RUNTIME_DIR"); }
    // Vasket serving the station of the given pid (0: whoever listens).
    QProcess* Start(qint64 station) {
        QProcess* vasket = &started.emplace_back();
        vasket->setProcessEnvironment(env);
        vasket->start(UFD_VASKET_PATH, {"--station-pid", QString::number(station)});
        EXPECT_TRUE(vasket->waitForStarted());
        return vasket;
    }
    static bool EndsWell(QProcess* p, int ms = 10000) {
        return p->waitForFinished(ms) && p->exitStatus() == QProcess::NormalExit && !p->exitCode();
    }

    QTemporaryDir dir;
    const QString channel = "ufd-vasket-test-" + QUuid::createUuid().toString(QUuid::Id128);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    std::deque<QProcess> started; // killed, if still running, with the test
};

TEST_F(Vasket, OnePerStationAndNoneForAStationAlreadyGone) {
    QProcess station;
    station.start("sleep", {"600"});
    ASSERT_TRUE(station.waitForStarted());
    QProcess* first = Start(station.processId());
    QByteArray said; // once it says what it watches, it holds its lock
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return said.append(first->readAllStandardError()).contains("watching"); }, 10000));
    EXPECT_TRUE(EndsWell(Start(station.processId())));
    EXPECT_EQ(first->state(), QProcess::Running);
    station.kill();
    EXPECT_TRUE(EndsWell(first)) << "Vasket outlived its station";
    EXPECT_TRUE(EndsWell(Start(station.processId())));
}

TEST_F(Vasket, WithoutAStationPidItEndsWhenNobodyListens) {
    env.insert("UFD_MONITOR_GRACE_SECONDS", "1");
    std::optional<NoticeServer> server(std::in_place);
    ASSERT_TRUE(server->Listen(channel));
    QProcess* vasket = Start(0);
    EXPECT_FALSE(vasket->waitForFinished(3000)) << "a listening station keeps it";
    server.reset();
    EXPECT_TRUE(EndsWell(vasket, 15000)) << "Vasket kept running with nobody listening";
}

} // namespace ufd
