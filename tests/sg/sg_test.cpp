// The real-drive backend against a fake sysfs and recorded drive answers:
// which /dev/sgN each index names, what the executor sends and makes of the
// answers (sense data of both formats), its write guard, the C API over it,
// and ufd-drives.
#include "fake_sysfs.h"

#include "api_internal.h"
#include "drive_map.h"
#include "encoder.h"
#include "reply_writer.h"
#include "safety.h"
#include "sg_executor.h"
#include "usb_reset.h"

#include <quorlink/quorlink.h>

#include <gmock/gmock.h>

#include <ranges>
#include <regex>

#include <sys/mman.h>

namespace {
using namespace quorlink;
using namespace sgtest;
using std::chrono::milliseconds;
using namespace ::testing;
using Bytes = std::vector<uint8_t>;
using Reread = std::vector<std::pair<std::string, size_t>>;

// Sense data in the fixed format, as most drives send it.
Bytes fixed(uint8_t code, uint8_t key, uint8_t asc, uint8_t additional = 10) {
    return {code, 0, key, 0, 0, 0, 0, additional, 0, 0, 0, 0, asc, 0, 0, 0, 0, 0};
}
const auto sensed = [](Bytes s) { return Answer{.status = 2, .driverStatus = 8, .sense = s}; };
const auto checkCondition = [](uint8_t key, uint8_t asc) { return sensed(fixed(0x70, key, asc)); };
const auto kIota = std::views::iota(3, 1027); // as bytes: 3, 4, ... 255, 0, 1, ...
const Bytes kPattern(kIota.begin(), kIota.end());

// The commands the tests send, by letter: X is a vendor write, F the flush.
const std::string kLetters = "TRWVMCDFX";
// clang-format off
const std::vector<Command> kCommands = {
    encodeTestUnitReady(), *encodeRead(0, 1), *encodeWrite(0, 1, kPattern),
    *encodeVendor({}, VendorForm::Read, 0x75, 0, 0, 0, 0, 0, 512), encodeModeSense(),
    encodeReadCapacity10(), encodeReadCapacity16(), encodeSynchronizeCache(),
    *encodeVendor({}, VendorForm::Write, 0x82, 0, 0, 0, 0, 0, 512, kPattern)};
// clang-format on
const auto command = [](char c) -> const Command& { return kCommands.at(kLetters.find(c)); };

// What the tests allow: the drive FakeDrive makes by default.
QuorlinkConf lineConf(std::map<int, std::string> ports = {}) {
    return {{}, false, {{0x1234, 0x5678}}, ports, {}, {}, {}}; // file, found, allow, ports, ...
}

// A fake tree, a scripted SG_IO, and handles opened on them.
struct Rig {
    FakeTree tree;
    std::shared_ptr<ScriptedSg> sg = std::make_shared<ScriptedSg>();
    OpenResult open(int index, QuorlinkConf conf = lineConf(), std::string error = "") {
        return sg::makeSgExecutor(tree.roots(), sg, {}, {conf, error})->open(index);
    }
    std::string sdb() const { return (tree.roots().dev / "sdb").string(); }
};
struct Sg : ::testing::Test, Rig {};

// ---- which /dev/sgN each drive index names ------------------------------

FakeDrive stick(int sg, const char* port, const char* vid = "1234", int type = 0) {
    return {.sg = sg, .type = type, .port = port, .vid = vid};
}
FakeDrive sata(int sg, int type = 0) {
    return {.sg = sg, .driver = "", .vendor = "ATA", .model = "FastDisk", .type = type};
}

TEST(DriveMap, PortPathsCompareByEachNumber) {
    const std::string ordered[] = {"1-2", "1-2.3", "1-2.10", "1-10", "2-1", "10-1", "odd"};
    for (size_t i = 0; i < std::size(ordered); ++i) {
        for (size_t j = 0; j < std::size(ordered); ++j) {
            const int c = sg::comparePortPaths(ordered[i], ordered[j]);
            EXPECT_EQ((c > 0) - (c < 0), (i > j) - (i < j)) << ordered[i] << " vs " << ordered[j];
        }
    }
}

TEST(DriveMap, IndexesNameAllowedDrivesByPort) {
    // A PC's own disks and a card reader off the list between the sticks; sg7
    // is an allowed stick's CD-ROM LUN.
    const std::vector<FakeDrive> mixed = {
        sata(0),           stick(1, "1-10"),          sata(2, 5),
        stick(3, "1-2.3"), stick(4, "1-1", "0bda"),   stick(5, "2-1"),
        stick(6, "1-2"),   stick(7, "1-3", "1234", 5)};
    // Numbered against their ports, so sg order cannot pass for port order.
    std::vector<FakeDrive> full = {sata(0), sata(1, 5), sata(2), sata(3, 5)};
    std::map<int, std::string> rack; // 1-18 takes no index
    for (int i = 0; i < 18; ++i) {
        full.push_back({.sg = 4 + i, .port = "1-" + std::to_string(18 - i)});
        rack[i] = "1-" + std::to_string(i + 1);
    }
    rack.erase(17);
    struct Case {
        const char* name;
        std::vector<FakeDrive> drives;
        std::map<int, std::string> ports;
        // Drive index -> port opened ("!": not named USB storage); every other index empty.
        std::map<int, std::string> expected;
        const char* error = ""; // of loading quorlink.conf
    };
    // clang-format off
    const Case cases[] = {
        {"port order", mixed, {}, {{0, "1-2"}, {1, "1-2.3"}, {2, "1-10"}, {3, "2-1"}}},
        // 5: an off-list drive is reached (and refused) there; 7: nothing plugged
        {"ports named", mixed, {{0, "1-10"}, {3, "1-2"}, {5, "1-1"}, {7, "3-3"}}, {{0, "1-10"}, {3, "1-2"}, {5, "1-1!"}}},
        {"unusable file", mixed, {{0, "1-10"}}, {}, "quorlink.conf: bad value"},
        {"seventeen of eighteen", full, {}, rack},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        for (const FakeDrive& d : c.drives) {
            r.tree.add(d);
        }
        std::map<int, std::string> opened;
        for (int index = -1; index <= 17; ++index) {
            if (const OpenResult o = r.open(index, lineConf(c.ports), c.error);
                o.device != nullptr) {
                opened[index] = o.portPath + (o.deviceLine.starts_with("USBSTOR") ? "" : "!");
            }
        }
        EXPECT_EQ(opened, c.expected);
    }
}

TEST_F(Sg, DeviceLinesFromSysfs) {
    // clang-format off
    const std::pair<FakeDrive, const char*> cases[] = {
        {{.sg = 1, .driver = "uas", .type = 5}, "USBSTOR\\CdRom&Ven_Acme&Prod_Line_Stick&Rev_1.00\\0123ABCD"},
        {{.sg = 2, .serial = ""}, "USBSTOR\\Disk&Ven_Acme&Prod_Line_Stick&Rev_1.00\\0"},
        // A non-USB disk whose model pretends otherwise must not pass as USB.
        {{.sg = 5, .driver = "", .vendor = "ATA", .model = "UsbStor Disk", .rev = "1A2B"}, "SCSI\\Disk&Ven_ATA&Prod_USB_STOR_Disk&Rev_1A2B"},
    };
    // clang-format on
    for (const auto& [drive, expected] : cases) {
        tree.add(drive);
        EXPECT_EQ(sg::deviceLine(sg::describeSgDevice(tree.roots(), drive.sg), true), expected);
    }
}

// ---- what the executor sends and makes of the answers --------------------

// One handle's conversation with a scripted drive: what each command ends as
// (sense data of both formats, the names the trace shows), what went out and
// how often (asked again only what the drive said it did not run, never past
// the ready wait, on the fake clock), writes flushed before anything else is
// asked and at release, then the partition table re-read on the claimed disk,
// after the flush, before the claim goes.
TEST(SgTalk, OutcomesRetriesAndFlushes) {
    // What goes out for each command, whole: block, direction, timeout,
    // length and data; P and H are the fallback forms of MODE SENSE.
    const int dxfer[] = {SG_DXFER_NONE, SG_DXFER_FROM_DEV, SG_DXFER_TO_DEV}; // by Direction
    const unsigned timeout[] = {10000, 30000, 60000};                        // by CommandClass
    std::map<Sent, char> names = {
        {{{0x1A, 0, 0x00, 0, 192, 0}, {}, SG_DXFER_FROM_DEV, 10000, 192}, 'P'},
        {{{0x1A, 0, 0x3F, 0, 4, 0}, {}, SG_DXFER_FROM_DEV, 10000, 4}, 'H'}};
    for (size_t i = 0; const Command& c : kCommands) {
        const Bytes cdb(c.cdb.begin(), c.cdb.begin() + c.cdbLength),
            out(c.dataOut.begin(), c.dataOut.end());
        names[{cdb, out, dxfer[int(c.direction)], timeout[int(c.commandClass)], c.dataLength}] =
            kLetters[i++];
    }
    const auto fds = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    const Answer attention = checkCondition(0x06, 0x29), changed = checkCondition(0x06, 0x28);
    const Answer becoming = sensed({0x72, 0x02, 0x04, 0x01}), rejected = checkCondition(0x05, 0x24);
    const Answer mediumError = checkCondition(0x03, 0x0C), no = sensed({0x70, 0x00});
    const std::string noSense = "CHECK CONDITION without sense data";
    struct Case {
        const char* steps; // of the letters above, in order
        std::vector<Answer> answers{};
        std::string sent;     // as sent, release included
        std::string outcomes; // each step's reason ("": done), "|" between
        milliseconds paused = 0ms, ready = 30s;
        // byte 2 of the last step's data (MODE SENSE: the write-protect byte); the re-read's errno
        int byte2 = -1, rereadErrno = 0;
        const char *released = "", *claims = nullptr; // in what release says; claims by each step
    };
    // clang-format off
    const Case cases[] = {
        // A failure is no sign of a drive gone: the next command goes out.
        {"RT", {sensed(fixed(0x71, 0x04, 0x44))}, "RT", "HARDWARE ERROR 4/44/00|"},
        {"RT", {sensed(fixed(0x70, 0xE7, 0x27))}, "RT", "DATA PROTECT 7/27/00|"}, // flag bits around the key
        // An additional length of 4 stops before the ASC: the drive did not say.
        {"RT", {sensed(fixed(0x70, 0x03, 0x11, 4))}, "RT", "MEDIUM ERROR 3/00/00|"},
        {"RT", {sensed({0x70, 0x00, 0x05})}, "RT", "ILLEGAL REQUEST 5/00/00|"},
        {"RT", {sensed({0x73, 0x0B, 0x47, 0x03})}, "RT", "ABORTED COMMAND B/47/03|"},
        {"RT", {sensed({0x72, 0x07})}, "RT", "DATA PROTECT 7/00/00|"},
        {"RT", {sensed(fixed(0x70, 0x0C, 0x00))}, "RT", "SENSE KEY 0xC C/00/00|"},
        {"RT", {sensed(fixed(0x70, 0x09, 0x00))}, "RT", "VENDOR DEFINED 9/00/00|"},
        // Bytes that are no sense data, or none at all.
        {"RT", {sensed({0x00, 0x03, 0x11})}, "RT", noSense + "|"},
        {"RT", {no}, "RT", noSense + "|"},
        {"RT", {sensed({0x72})}, "RT", noSense + "|"},
        {"RT", {{.status = 0x02}}, "RT", noSense + "|"},
        {"RT", {{.status = 0x08}}, "RT", "BUSY|"},
        {"TT", {{.hostStatus = 0x03}}, "TT", "timed out after 10 s (DID_TIME_OUT)|"},
        {"RT", {{.driverStatus = 0x06}}, "RT", "timed out after 30 s|"},
        {"RT", {{.hostStatus = 0x07}}, "RT", "transport error DID_ERROR|"},
        {"RT", {{.driverStatus = 0x04}}, "RT", "driver status 4|"},
        {"TT", {{.err = EIO}}, "TT", "SG_IO failed: Input/output error; not sent again: it may have run|"},
        {"TT", {{.err = EINVAL}}, "TT", "SG_IO failed: Invalid argument (not sent)|"},
        {"RT", {{.err = EINTR}}, "RT", "interrupted; not sent again: it may have run|"},
        {"CT", {{.resid = 4, .data = {0, 0x0F, 0x42, 0x3F}}}, "CT", "short capacity answer: 4 of 8 bytes|"},
        {"DT", {{.data = {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x10, 0}}}, "DT", "sector size 4096, not 512|"},
        // RECOVERED ERROR: the command did complete.
        {"R", {{.data = {1, 2, 3, 4}, .status = 2, .driverStatus = 8, .sense = fixed(0x70, 0x01, 0x18)}}, "R", "", 0ms, 30s, 3},
        // A pulled drive: later commands fail without asking it again.
        {"RT", {{.err = ENODEV}}, "R", "drive removed (No such device)|drive removed"},
        {"RT", {{.hostStatus = 0x01}}, "R", "drive removed (DID_NO_CONNECT)|drive removed"},
        // Asked again
        {"R", std::vector(9, attention), "RRRR", "UNIT ATTENTION 6/29/00 (4 attempts)"},
        // 100, 200, 400 ms, then 500 ms pauses while they fit in the wait: the last one just does.
        {"R", std::vector(9, becoming), "RRRRRR", "NOT READY 2/04/01 (not ready within 2 s)", 1700ms, 1700ms},
        {"R", {sensed({0x72, 0x02, 0x04, 0x02})}, "R", "NOT READY 2/04/02"},
        // A write is not sent to a medium that may have been swapped.
        {"W", {changed}, "WF", "UNIT ATTENTION 6/28/00 (the medium may have changed; not sent again)"},
        {"R", {changed}, "RR", ""},
        // Flushes
        {"WWR", {}, "WWFR", "||"},
        {"X", {}, "X", ""},
        // A drive without a write cache rejects the flush: nothing to wait for.
        {"WR", {{}, checkCondition(0x05, 0x20)}, "WFR", "|"},
        // A failed flush fails the command that needed it, which is not sent,
        // and is tried again before the next one and at release.
        {"WRR", {{}, mediumError}, "WFFR", "|SYNCHRONIZE CACHE failed: MEDIUM ERROR 3/0C/00|"},
        // Without CAP_SYS_ADMIN udev re-reads it, once the disk is let go.
        {.steps = "W", .sent = "WF", .outcomes = "", .rereadErrno = EACCES, .released = "sdb not re-read (Permission denied): left to udev"},
        // MODE SENSE falls back when the drive rejects all pages; bytes the
        // drive did not send are zero. Only a refusal of the request itself is
        // worth another form.
        {"M", {{.resid = 188, .data = {0x23, 0, 0x80, 0}}}, "M", "", 0ms, 30s, 0x80},
        {"M", {rejected, rejected, {.data = {0x03, 0, 0x80, 0}}}, "MPH", "", 0ms, 30s, 0x80},
        {"M", {sensed(fixed(0xF0, 0x02, 0x3A))}, "M", "NOT READY 2/3A/00"}, // valid bit set
        // The whole disk is claimed from the first change until release, once;
        // an automounter picking up a partition is still seen.
        {.steps = "RWVAW", .sent = "RWFV", .outcomes = "|||refused: /dev/sdb1 is mounted on /media/op/NEW", .claims = "0111"},
    };
    // clang-format on
    Rig r;
    r.tree.add(FakeDrive{});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps + (" " + c.outcomes));
        r.sg = std::make_shared<ScriptedSg>();
        QuorlinkConf conf = lineConf();
        conf.timeouts.ready = c.ready;
        const auto before = fds();
        auto d = r.open(0, conf).device;
        ASSERT_EQ(fds(), before + 1) << "the handle holds /dev/sg1 open";
        r.sg->answers = {c.answers.begin(), c.answers.end()};
        r.sg->rereadErrno = c.rereadErrno;
        std::string outcomes, claims; // claims made by the end of each command
        Bytes data;
        for (const char* step = c.steps; *step != '\0'; ++step) {
            if (*step == 'A') { // an automounter picks up a partition, for good: last row
                r.tree.setMountInfo("44 22 8:17 / /media/op/NEW rw - vfat /dev/sdb1 rw\n");
                continue;
            }
            data.assign(512, *step == 'M' ? 0xEE : 0);
            const Outcome o = d->execute(command(*step), data);
            // Appended piece by piece: GCC 12 at -O2 misreads "lit" + string&& (-Wrestrict).
            outcomes += step == c.steps ? "" : "|";
            outcomes += o.ok ? "" : o.reason.empty() ? "?" : o.reason;
            claims += std::to_string(r.sg->claims);
        }
        EXPECT_THAT(d->release(), HasSubstr(c.released));
        d.reset();
        EXPECT_TRUE(fds() == before && r.sg->held.empty())
            << "release lets /dev/sg1 and the disk go";
        std::string sent;
        for (const Sent& s : r.sg->sent) {
            sent += names.contains(s) ? names.at(s) : '?';
        }
        EXPECT_EQ(std::tie(outcomes, sent, r.sg->paused), std::tie(c.outcomes, c.sent, c.paused));
        const bool wrote = c.sent.find('W') != std::string::npos;
        EXPECT_EQ(r.sg->rereads, (wrote ? Reread{{r.sdb(), c.sent.size()}} : Reread{}));
        EXPECT_EQ(r.sg->announced, (c.rereadErrno ? Reread{{r.sdb(), 0}} : Reread{}));
        EXPECT_TRUE(c.claims == nullptr || claims == c.claims) << claims;
        EXPECT_TRUE(c.byte2 < 0 || (data[2] == c.byte2 && data[100] == 0)) << int(data[2]);
    }
}

// A transfer above INT_MAX bytes (2 GiB + 512, in a buffer only reserved) keeps the drive's
// residue in range: its last 512 bytes are zeroed, nothing past it is touched.
TEST_F(Sg, ATransferAboveIntMaxKeepsItsResidueInRange) {
    tree.add(FakeDrive{});
    const auto d = open(0).device;
    const Command cmd = *encodeRead(0, 4194305);
    void* map = ::mmap(nullptr, cmd.dataLength, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    const std::span buffer(static_cast<uint8_t*>(map), cmd.dataLength);
    buffer.back() = 0xEE;
    sg->answers = {{.resid = 512}};
    EXPECT_EQ(std::pair(d->execute(cmd, buffer).ok, buffer.back()), std::pair(true, uint8_t{0}));
    ::munmap(map, cmd.dataLength);
}

// ---- the write guard ----------------------------------------------------

// Every reason a command that changes the drive is refused before it is
// sent; reads still go, and nothing is left claimed.
TEST(SgGuard, WritesAndVendorCommandsAreRefusedReadsAllowed) {
    using P = const fs::path&;
    struct Case {
        const char* mountLine = "";                        // appended to the mount table
        int claimErrno = 0;                                // of the exclusive open of /dev/sdb
        void (*afterOpen)(P usb, P sgEntry) = [](P, P) {}; // sysfs changes while the handle is open
        const char* reason = "";                           // after "refused: "
    };
    // clang-format off
    const Case cases[] = {
        {.afterOpen = [](P, P entry) { fs::remove(entry / "device/block/sdb/queue/logical_block_size"); }, .reason = "cannot read the logical block size of /dev/sdb"},
        {.mountLine = "40 22 8:17 / /media/op/STICK rw - vfat /dev/mapper/x rw\n", .reason = "/dev/sdb1 is mounted on /media/op/STICK"},
        {.mountLine = "41 22 0:99 / /media/op/my\\040stick rw - vfat /dev/sdb1 rw\n", .reason = "/dev/sdb1 is mounted on /media/op/my stick"},
        {.afterOpen = [](P, P entry) { fs::remove(entry / "../../../../mountinfo"); }, .reason = "cannot read the mount table"},
        {.claimErrno = EBUSY, .reason = "/dev/sdb is in use by another program"},
        {.claimErrno = EACCES, .reason = "cannot claim /dev/sdb: Permission denied"},
        {.afterOpen = [](P usb, P) { writeFile(usb / "serial", "XY99\n"); }, .reason = "/dev/sg1 changed since it was opened (serial 0123ABCD -> XY99)"},
        {.afterOpen = [](P usb, P) { writeFile(usb / "idProduct", "9999\n"); }, .reason = "/dev/sg1 changed since it was opened (USB 1234:5678 -> 1234:9999)"},
        {.afterOpen = [](P, P entry) { fs::remove_all(entry); }, .reason = "/dev/sg1 changed since it was opened (gone from sysfs)"},
    };
    // clang-format on
    std::vector<Command> changing = {command('W'), command('V')};
    // A writing opcode is guarded whatever direction it claims.
    for (uint8_t opcode : {0x2A, 0x04, 0x8A, 0x42}) {
        changing.push_back(command('T'));
        changing.back().cdb[0] = opcode;
    }
    Bytes in(512);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        Rig r;
        r.tree.setMountInfo(c.mountLine);
        r.sg->busy[r.sdb()] = c.claimErrno;
        const fs::path usb = r.tree.add({});
        auto d = r.open(0).device;
        ASSERT_NE(d, nullptr);
        c.afterOpen(usb, r.tree.sgEntry(1));
        for (const Command& cmd : changing) {
            EXPECT_THAT(d->execute(cmd, in).reason, StartsWith(std::string("refused: ") + c.reason))
                << int(cmd.cdb[1]);
        }
        EXPECT_TRUE(r.sg->sent.empty() && r.sg->held.empty()) << "a refused command went out";
        EXPECT_TRUE(d->execute(command('R'), in).ok && d->execute(command('T'), in).ok);
    }
}

// After a guard passed, sysfs is walked again only once the kernel's uevent
// count has moved (or when it cannot be read); the mount table is read
// before every write.
TEST(SgGuard, WalksSysfsAgainAfterAUeventAndReadsTheMountsEveryTime) {
    struct Case {
        const char* name;
        const char* countAfter; // the uevent count after the first write; "": no count at all
        bool serialChanged;
        const char* mountLine;
        const char* reason; // of the second write; "": it goes
    };
    const Case cases[] = {
        {"a uevent", "8\n", true, "", "refused: /dev/sg1 changed since it was opened (serial"},
        {"no count", "", true, "", "refused: /dev/sg1 changed since it was opened (serial"},
        {"no uevent", "7\n", true, "", ""},
        {"mounted, no uevent", "7\n", false,
         "40 22 8:17 / /media/op/STICK rw - vfat /dev/sdb1 rw\n",
         "refused: /dev/sdb1 is mounted on /media/op/STICK"},
    };
    Bytes in(512);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        const fs::path usb = r.tree.add({});
        const fs::path count = r.tree.roots().sys / "kernel/uevent_seqnum";
        if (*c.countAfter != '\0') {
            writeFile(count, "7\n");
        }
        auto d = r.open(0).device;
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(d->execute(command('W'), in).ok);
        if (*c.countAfter != '\0') {
            writeFile(count, c.countAfter);
        }
        if (c.serialChanged) {
            writeFile(usb / "serial", "XY99\n");
        }
        r.tree.setMountInfo(c.mountLine);
        const Outcome second = d->execute(command('W'), in);
        if (*c.reason == '\0') {
            EXPECT_TRUE(second.ok) << second.reason;
        } else {
            EXPECT_THAT(second.reason, StartsWith(c.reason));
        }
    }
}

// The guard's own allow-list, apart from the drive map's (which keeps such a
// drive from ever being opened): only a listed VID:PID passes.
TEST(SgGuard, RefusesADriveOffTheAllowList) {
    Rig r;
    r.tree.add({});
    const auto info = sg::describeSgDevice(r.tree.roots(), 1);
    QuorlinkConf other = lineConf();
    other.file = "line.conf";
    other.allow = {{0x1234, 0x5679}, {0x1235, 0x5678}};
    EXPECT_EQ(std::pair(sg::refusal(r.tree.roots(), lineConf(), info),
                        sg::refusal(r.tree.roots(), other, info)),
              std::pair(std::optional<std::string>(),
                        std::optional<std::string>(
                            "refused: USB 1234:5678 is not in [Drives] Allow= of line.conf")));
}

// ---- the USB reset of a drive that stopped answering ----------------------

// The USB device is found again by the port path the drive was opened on,
// whatever device number it has by now, reset only while it is still the
// same allowed stick, and the drive is looked for at that port afterwards:
// its own sg device, a new one, or none within the wait.
TEST(SgReset, FindsTheStickByItsPortResetsItAndFindsItsDiskAgain) {
    using P = const fs::path&;
    struct Case {
        const char* name;
        void (*beforeReset)(FakeTree&, P usb) = [](FakeTree&, P) {};
        void (*afterReset)(FakeTree&, P usb) = [](FakeTree&, P) {};
        int resetErrno = 0;
        const char* node = "";   // reset; "": none sent
        const char* result = ""; // "sgN" found after the reset, else the reason
        milliseconds paused = 0ms;
        std::string vid = "1234"; // of the stick; off the list unless 1234
    };
    // clang-format off
    const Case cases[] = {
        {.name = "the same sg back", .node = "001/005", .result = "sg1"},
        // The kernel numbered the device anew (a reset that re-enumerated it).
        {.name = "new device number", .beforeReset = [](FakeTree&, P usb) { writeFile(usb / "devnum", "23\n"); }, .node = "001/023", .result = "sg1"},
        {.name = "re-enumerated", .afterReset = [](FakeTree& t, P) { fs::remove_all(t.sgEntry(1)); t.add({.sg = 3, .port = "1-2", .block = "sdc"}); },
         .resetErrno = ENODEV, .node = "001/005", .result = "sg3"},
        {.name = "no disk after the reset", .afterReset = [](FakeTree& t, P) { fs::remove_all(t.sgEntry(1) / "device/block"); },
         .node = "001/005", .result = "no disk at port 1-2 within 2 s of the USB reset", .paused = 2000ms},
        {.name = "reset refused by the kernel", .resetErrno = EACCES, .node = "001/005", .result = "USB reset of DEV/bus/usb/001/005 failed: Permission denied"},
        {.name = "another stick in the port", .beforeReset = [](FakeTree&, P usb) { writeFile(usb / "serial", "XY99\n"); },
         .result = "refused: port 1-2 holds another device now (USB 1234:5678, serial XY99)"},
        {.name = "pulled", .beforeReset = [](FakeTree& t, P) { fs::remove(t.path / "sys/bus/usb/devices/1-2"); }, .result = "no USB device at port 1-2 to reset"},
        {.name = "off the list", .result = "refused: USB 0bda:5678 is not in [Drives] Allow= of quorlink.conf", .vid = "0bda"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        const fs::path usb = r.tree.add({.sg = 1, .port = "1-2", .vid = c.vid.c_str()});
        const sg::SgDeviceInfo opened = sg::describeSgDevice(r.tree.roots(), 1);
        c.beforeReset(r.tree, usb);
        r.sg->resetErrno = c.resetErrno;
        r.sg->afterReset = [&] { c.afterReset(r.tree, usb); };
        QuorlinkConf conf = lineConf();
        const auto result = sg::resetUsbDevice(r.tree.roots(), *r.sg, conf, opened, 2s);
        std::string said = std::holds_alternative<std::string>(result)
                               ? std::get<std::string>(result)
                               : "sg" + std::to_string(std::get<sg::SgDeviceInfo>(result).sg);
        said = std::regex_replace(said, std::regex(r.tree.roots().dev.string()), "DEV");
        const std::vector<std::string> reset =
            *c.node ? std::vector{(r.tree.roots().dev / "bus/usb" / c.node).string()}
                    : std::vector<std::string>{};
        EXPECT_EQ(std::tie(said, r.sg->usbResets, r.sg->paused),
                  std::tie(c.result, reset, c.paused));
    }
    // A SATA disk has no USB device to reset.
    Rig r;
    r.tree.add(sata(0));
    EXPECT_EQ(std::get<std::string>(sg::resetUsbDevice(
                  r.tree.roots(), *r.sg, lineConf(), sg::describeSgDevice(r.tree.roots(), 0), 2s)),
              "refused: /dev/sg0 is not USB storage");
}

// A handle resets its drive once: a second reset is refused unsent. A drive
// the kernel brought back as a new sg device is the handle's from then on:
// its writes pass the guard and claim the new disk.
TEST_F(Sg, AHandleResetsOnceAndFollowsTheDriveToItsNewNode) {
    tree.add({.sg = 1, .port = "1-2"});
    sg->afterReset = [&] {
        fs::remove_all(tree.sgEntry(1));
        tree.add({.sg = 3, .port = "1-2", .block = "sdc"});
    };
    auto d = open(0).device;
    const Outcome first = d->reset(), second = d->reset();
    EXPECT_EQ(std::tuple(first.ok, second.ok, second.reason, sg->usbResets.size()),
              std::tuple(true, false, "refused: the drive was reset once already", size_t{1}));
    Bytes in(512);
    EXPECT_EQ(d->execute(command('W'), in).reason, "");
    EXPECT_THAT(sg->held, ElementsAre(Pair(_, (tree.roots().dev / "sdc").string())));
}

// ---- the C API over this executor ----------------------------------------

// The C API over this executor: quorlink.conf's timeouts and vendor block
// layout reach the drive, replies their files; only failures reach the trace,
// by default and without a word from the caller: a release that could not
// flush closes the handle all the same, and says why.
TEST_F(Sg, ApiConfReachesTheDriveAndFailuresTheTrace) {
    tree.add(FakeDrive{});
    QuorlinkConf conf = lineConf();
    conf.timeouts = {.quick = 5s, .vendor = 600s};
    conf.vendorBlock = {.opcode = 0xF0, .code = {12, 1, true}};
    ::setenv("QUORLINK_REPLY_DIR", (tree.path / "replies").c_str(), 1);
    ::unsetenv("QUORLINK_TRACE");
    installExecutorForTesting(sg::makeSgExecutor(
        tree.roots(), sg, TraceTarget{tree.path / "trace", true}, ConfLoad{conf, ""}));
    EXPECT_EQ(fnQuorbus_GetDiskHandle(5), 0); // empty index: no news
    const int32_t h = fnQuorbus_GetDiskHandle(0);
    EXPECT_EQ(fnQuorbus_TestUnitReady(h) + fnQuorbus_VendorR(h, 0x75, 0, 512), 2);
    const Bytes tur(6, 0), vendorRead = {0xF0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0x75, 0, 0, 0};
    EXPECT_EQ(sg->sent, (std::vector<Sent>{{tur, {}, SG_DXFER_NONE, 5000},
                                           {vendorRead, {}, SG_DXFER_FROM_DEV, 600000, 512}}));
    // Capacities past 32 bits.
    sg->answers = {{.data = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0}},
                   {.data = {0, 0, 0, 1, 0, 0, 0, 0x0F, 0, 0, 2, 0}}};
    EXPECT_EQ(fnQuorbus_ReadCapacity(h), 1);
    EXPECT_EQ(readFile(replyPaths().text), "4294967312\r\n");
    EXPECT_EQ(fnQuorbus_Write(h, 1, 0, kPattern.data()), 1);
    // The media test's transfers stay within the queue's limit (1280 KiB).
    EXPECT_EQ(quorlink_max_transfer(h), 2560);
    sg->answers = {checkCondition(0x03, 0x0C)};
    sg->rereadErrno = EBUSY;
    EXPECT_EQ(fnQuorbus_CloseHandle(h), 1);
    EXPECT_EQ(
        std::regex_replace(readFile(tree.path / "trace"), std::regex(R"(,"time":"[^"]*")"), ""),
        R"({"fn":"fnQuorbus_CloseHandle","drive":0,"args":[1],"status":1,"reason":"SYNCHRONIZE CACHE failed: MEDIUM ERROR 3/0C/00; partition table of /dev/sdb not re-read: Device or resource busy"}
)");
    installExecutorForTesting(nullptr);
}

// ---- ufd-drives ------------------------------------------------------------

TEST_F(Sg, UfdDrivesBinaryReadsItsConfAndAnswersEveryOption) {
    // A PC disk, an off-list card reader and the sticks of the line in every state.
    tree.add({.sg = 0, .driver = "", .vendor = "ATA", .model = "FastDisk", .block = "sda"});
    tree.add({.sg = 1, .serial = "S1", .port = "1-2", .block = "sdb"});
    tree.add({.sg = 2, .serial = "", .port = "1-1", .vid = "0bda", .block = "sdc"});
    tree.add({.sg = 3, .port = "1-3", .block = "sdd", .blockSize = 4096});
    tree.add({.sg = 4, .port = "1-4", .block = "sde"});
    tree.add({.sg = 5, .port = "1-5", .block = "sdf", .holder = "dm-0"});
    tree.add({.sg = 6, .port = "1-6", .block = ""});
    tree.setMountInfo("40 22 8:0 / /boot rw - ext4 /dev/sda rw\n"
                      "41 22 8:65 / /media/op/STICK rw - vfat /dev/sde1 rw\n");
    // Run in the tree, so the tree's roots and the program's output sit under plain names.
    const std::string allowLine = "[Drives]\nAllow=1234:5678, abcd:00ef\n";
    const std::string roots = " --sys sys --dev dev --mountinfo mountinfo";
    const std::tuple<std::string, int, std::string, std::string, std::string> cases[] = {
        // No file: nothing is allowed, and each USB drive says which file to edit.
        {roots, 0, "USB 1234:5678 is not in [Drives] Allow= of none.conf\n", "", ""},
        {"--udev-rules", 1, "", "none.conf does not exist: write [Drives] Allow= there first\n",
         ""},
        // Columns line up whatever their widths.
        {roots, 0,
         R"(sg   index  block  port  vid:pid    serial    blocksize  state    station
sg0  -      sda    -     -          -         512        mounted  no: /dev/sg0 is not USB storage
sg1  0      sdb    1-2   1234:5678  S1        512        free     yes
sg2  -      sdc    1-1   0bda:5678  -         512        free     no: USB 0bda:5678 is not in [Drives] Allow= of quorlink.conf
sg3  1      sdd    1-3   1234:5678  0123ABCD  4096       free     no: /dev/sdd has 4096-byte logical blocks, not 512
sg4  2      sde    1-4   1234:5678  0123ABCD  512        mounted  no: /dev/sde1 is mounted on /media/op/STICK
sg5  3      sdf    1-5   1234:5678  0123ABCD  512        held     no: /dev/sdf is held by dm-0
sg6  4      -      1-6   1234:5678  0123ABCD  -          -        no: /dev/sg6 has no block device yet
)",
         "", allowLine},
        // Each allowed drive in turn: its sg node, whole disk and USB device node (the reset) to
        // the group, none automounted.
        {"--udev-rules", 0, R"(ATTR{idProduct}=="5678", GROUP="ufdstation", MODE="0660"

# abcd:00ef
SUBSYSTEM=="scsi_generic", SUBSYSTEMS=="usb", ATTRS{idVendor}=="abcd", ATTRS{idProduct}=="00ef", GROUP="ufdstation", MODE="0660"
SUBSYSTEM=="block", ENV{DEVTYPE}=="disk", SUBSYSTEMS=="usb", ATTRS{idVendor}=="abcd", ATTRS{idProduct}=="00ef", GROUP="ufdstation", MODE="0660", ENV{UDISKS_IGNORE}="1"
SUBSYSTEM=="block", ENV{DEVTYPE}=="partition", SUBSYSTEMS=="usb", ATTRS{idVendor}=="abcd", ATTRS{idProduct}=="00ef", ENV{UDISKS_IGNORE}="1"
SUBSYSTEM=="usb", ENV{DEVTYPE}=="usb_device", ATTR{idVendor}=="abcd", ATTR{idProduct}=="00ef", GROUP="ufdstation", MODE="0660"
)",
         "", allowLine},
        // A file that is there but allows nothing: no rules, and which file to edit.
        {"--udev-rules", 1, "", "[Drives] Allow= of quorlink.conf lists no drive\n",
         "[Drives]\n;Allow=\n"},
        {"--show-block 0x75", 0, "C6 01 75 00 00 00 00 00 00 00 02 00 00 00 00 00\n", "", ""},
        {"--show-block 7", 1, "", "[VendorBlock] DataLength: \"13:4\": does not fit",
         "[VendorBlock]\nDataLength=13:4\n"},
        {"--show-block 256", 2, "", "usage: ufd-drives", ""},
        {"--show-block", 2, "", "usage: ufd-drives", ""},
        {"--udev-rules --show-block 1", 2, "", "usage: ufd-drives", ""},
        {"list", 2, "", "usage: ufd-drives", ""},
    };
    for (const auto& [args, exitCode, inOut, inErr, confText] : cases) {
        SCOPED_TRACE(args);
        writeFile(tree.path / "quorlink.conf", confText); // no text: none.conf, no file
        const int status = std::system(("cd '" + tree.path.string() + "' && QUORLINK_CONF=" +
                                        (confText.empty() ? "none" : "quorlink") +
                                        ".conf " UFD_DRIVES_BIN " " + args + " >out 2>err")
                                           .c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, exitCode);
        EXPECT_THAT(readFile(tree.path / "out"), HasSubstr(inOut));
        const std::string said = readFile(tree.path / "err");
        EXPECT_THAT(said, HasSubstr(inErr));
        EXPECT_TRUE(said.empty() || said.ends_with('\n')) << "every message ends its line";
    }
}

// Read-only checks on the real drives of this machine, opt-in
// (UFD_SG_TEST=1): discovery over indexes 0..16, then capacity, mode sense
// and a read on every disk found. Nothing is written.
TEST(RealDrive, DiscoveryCapacityModeSenseAndRead) {
    if (const char* optIn = std::getenv("UFD_SG_TEST"); !optIn || optIn != std::string_view("1")) {
        GTEST_SKIP() << "set UFD_SG_TEST=1 to run read-only checks on this machine's /dev/sg*";
    }
    ::unsetenv("QUORLINK_RACK");
    const sgtest::TempDir replies;
    ::setenv("QUORLINK_REPLY_DIR", replies.path.c_str(), 1);
    const fs::path text = replyPaths().text, binary = replyPaths().binary;
    int disks = 0;
    for (int32_t index = 0; index <= 16; ++index) {
        const int32_t h = fnQuorbus_GetDiskHandle(index);
        // Direct-access disks only: a CD drive without a disc has no capacity.
        if (h != 0 && readFile(text).find("\\Disk&") != std::string::npos) {
            SCOPED_TRACE(readFile(text));
            ++disks;
            ASSERT_EQ(fnQuorbus_ReadCapacity(h), 1);
            EXPECT_GT(std::atoll(readFile(text).c_str()), 0);
            ASSERT_EQ(fnQuorbus_ModeSense(h), 1);
            const std::string mode = readFile(binary);
            EXPECT_TRUE(mode.size() == 512 && (mode[82] & 0x7F) == 0) << mode.size();
            EXPECT_EQ(fnQuorbus_Read(h, 1, 0), 1);
        }
        EXPECT_TRUE(h == 0 || fnQuorbus_CloseHandle(h) == 1);
    }
    if (disks == 0) {
        GTEST_SKIP() << "no usable /dev/sg disk here (none present, none in [Drives] Allow= "
                     << "of quorlink.conf, or no access: see docs/real-drives.md)";
    }
}

} // namespace
