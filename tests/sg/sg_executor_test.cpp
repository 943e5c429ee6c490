// The SG_IO executor against a fake sysfs tree and recorded drive answers,
// sense data of both formats included.
#include "api_internal.h"
#include "encoder.h"
#include "fake_sysfs.h"
#include "reply_writer.h"
#include "sg_executor.h"
#include "sysfs_device.h"

#include <quorlink/quorlink.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {
namespace fs = std::filesystem;
using namespace quorlink;
using sgtest::Answer;
using sgtest::FakeDrive;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Sense data in the fixed format, as most drives send it.
std::vector<uint8_t> fixed(uint8_t code, uint8_t key, uint8_t asc, uint8_t additional = 10) {
    std::vector<uint8_t> b(18, 0);
    b[0] = code;
    b[2] = key;
    b[7] = additional;
    b[12] = asc;
    return b;
}

Answer sensed(std::vector<uint8_t> sense) {
    return {.status = 0x02, .driverStatus = 0x08, .sense = std::move(sense)};
}

Answer checkCondition(uint8_t key, uint8_t asc) {
    return sensed(fixed(0x70, key, asc));
}

Command vendor(VendorForm form, int code, std::span<const uint8_t> out = {}) {
    return *encodeVendor(form, code, 0, 0, 0, 0, 0, 512, out);
}

const FakeDrive kSata{.driver = "", .vendor = "ATA", .model = "FastDisk 512", .rev = "1A2B"};

const std::array<uint8_t, 1024> kPattern = [] {
    std::array<uint8_t, 1024> a{};
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return a;
}();

class SgExecutorTest : public ::testing::Test {
protected:
    void SetUp() override {
        sg = std::make_shared<sgtest::ScriptedSg>();
        exec =
            sg::makeSgExecutor(tree.roots(), sg, std::nullopt, sgtest::loaded(sgtest::lineConf()));
    }
    std::unique_ptr<Device> open(int index, std::string* line = nullptr) {
        OpenResult r = exec->open(index);
        if (line != nullptr) {
            *line = r.deviceLine;
        }
        return std::move(r.device);
    }
    // A drive that is plainly fine to write: allowed USB storage, nothing mounted.
    std::unique_ptr<Device> usbDrive() {
        tree.add(FakeDrive{});
        auto d = open(0);
        EXPECT_NE(d, nullptr);
        return d;
    }
    Outcome run(Device& d, const Command& cmd) {
        std::vector<uint8_t> in(cmd.direction == Direction::In ? cmd.dataLength : 0);
        return d.execute(cmd, in);
    }

    sgtest::FakeTree tree;
    std::shared_ptr<sgtest::ScriptedSg> sg;
    std::unique_ptr<Executor> exec;
};

TEST_F(SgExecutorTest, DeviceLinesFromSysfs) {
    const std::tuple<FakeDrive, bool, const char*> cases[] = {
        {{}, true, "USBSTOR\\Disk&Ven_Acme&Prod_Line_Stick&Rev_1.00\\0123ABCD"},
        {{.driver = "uas"}, true, "USBSTOR\\Disk&Ven_Acme&Prod_Line_Stick&Rev_1.00\\0123ABCD"},
        {{.serial = ""}, true, "USBSTOR\\Disk&Ven_Acme&Prod_Line_Stick&Rev_1.00\\0"},
        {{.type = 5}, true, "USBSTOR\\CdRom&Ven_Acme&Prod_Line_Stick&Rev_1.00\\0123ABCD"},
        // Off the allow-list: never a slot.
        {{}, false, "SCSI\\Disk&Ven_Acme&Prod_Line_Stick&Rev_1.00"},
        {kSata, true, "SCSI\\Disk&Ven_ATA&Prod_FastDisk_512&Rev_1A2B"},
        // A non-USB disk whose model pretends otherwise must not pass as USB.
        {{.driver = "", .vendor = "ATA", .model = "UsbStor Disk", .rev = "1A2B"},
         true,
         "SCSI\\Disk&Ven_ATA&Prod_USB_STOR_Disk&Rev_1A2B"},
    };
    int sg = 0;
    for (auto [drive, allowed, expected] : cases) {
        drive.sg = ++sg;
        tree.add(drive);
        EXPECT_EQ(sg::deviceLine(sg::describeSgDevice(tree.roots(), sg), allowed), expected);
    }
    EXPECT_EQ(open(-1), nullptr);
    EXPECT_EQ(open(17), nullptr);
}

TEST_F(SgExecutorTest, BlockDirectionLengthAndTimeoutReachTheKernel) {
    const std::tuple<Command, int, unsigned> cases[] = {
        {encodeTestUnitReady(), SG_DXFER_NONE, 10000},
        {encodeModeSense(), SG_DXFER_FROM_DEV, 10000},
        {*encodeRead(75, 1), SG_DXFER_FROM_DEV, 30000},
        {*encodeWrite(32, 2, kPattern), SG_DXFER_TO_DEV, 30000},
        {vendor(VendorForm::Read, 0x75), SG_DXFER_FROM_DEV, 60000},
        {vendor(VendorForm::Write, 0x82, kPattern), SG_DXFER_TO_DEV, 60000},
    };
    auto d = usbDrive();
    for (const auto& [cmd, direction, timeoutMs] : cases) {
        sg->sent.clear();
        ASSERT_TRUE(run(*d, cmd).ok);
        // The flush after the WRITE is another test's.
        std::erase_if(sg->sent, [](const sgtest::Sent& s) { return s.cdb[0] == 0x35; });
        ASSERT_EQ(sg->sent.size(), 1u);
        const auto& s = sg->sent[0];
        EXPECT_EQ(s.cdb, std::vector<uint8_t>(cmd.cdb.begin(), cmd.cdb.begin() + cmd.cdbLength));
        EXPECT_EQ(s.direction, direction);
        EXPECT_EQ(s.length, cmd.dataLength);
        EXPECT_EQ(s.timeout, timeoutMs);
        EXPECT_EQ(s.dataOut, std::vector<uint8_t>(cmd.dataOut.begin(), cmd.dataOut.end()));
    }
}

TEST_F(SgExecutorTest, FailedCommandsCarryTheirReason) {
    const Command quick = encodeTestUnitReady(), vendorRead = vendor(VendorForm::Read, 0x75);
    const Command read = *encodeRead(0, 1), cap = encodeReadCapacity10();
    const Command cap16 = encodeReadCapacity16();
    const std::tuple<Answer, Command, const char*> cases[] = {
        // Sense data in both formats, and the names the trace shows.
        {checkCondition(0x03, 0x11), read, "MEDIUM ERROR 3/11/00"},
        {sensed(fixed(0xF0, 0x02, 0x3A)), read, "NOT READY 2/3A/00"}, // valid bit set
        {sensed(fixed(0x71, 0x04, 0x44)), read, "HARDWARE ERROR 4/44/00"},
        {sensed(fixed(0x70, 0xE7, 0x27)), read, "DATA PROTECT 7/27/00"}, // flag bits around the key
        // An additional length of 4 stops before the ASC: the drive did not say.
        {sensed(fixed(0x70, 0x03, 0x11, 4)), read, "MEDIUM ERROR 3/00/00"},
        {sensed({0x70, 0x00, 0x05}), read, "ILLEGAL REQUEST 5/00/00"},
        {sensed({0x72, 0x02, 0x04, 0x03, 0, 0, 0, 0}), read, "NOT READY 2/04/03"},
        {sensed({0x73, 0x0B, 0x47, 0x03}), read, "ABORTED COMMAND B/47/03"},
        {sensed({0x72, 0x07}), read, "DATA PROTECT 7/00/00"},
        {sensed(fixed(0x70, 0x0C, 0x00)), read, "SENSE KEY 0xC C/00/00"},
        {sensed(fixed(0x70, 0x09, 0x00)), read, "VENDOR DEFINED 9/00/00"},
        // Bytes that are no sense data, or none at all.
        {sensed({0x00, 0x03, 0x11}), read, "CHECK CONDITION without sense data"},
        {sensed({0x7F, 0x03, 0x11, 0x00}), read, "CHECK CONDITION without sense data"},
        {sensed({0x70, 0x00}), read, "CHECK CONDITION without sense data"},
        {sensed({0x72}), read, "CHECK CONDITION without sense data"},
        {{.status = 0x02}, read, "CHECK CONDITION without sense data"},
        {{.status = 0x08}, read, "BUSY"},
        {{.hostStatus = 0x03}, quick, "timed out after 10 s (DID_TIME_OUT)"},
        {{.hostStatus = 0x03}, vendorRead, "timed out after 60 s (DID_TIME_OUT)"},
        {{.driverStatus = 0x06}, read, "timed out after 30 s"},
        {{.hostStatus = 0x07}, read, "transport error DID_ERROR"},
        {{.driverStatus = 0x04}, read, "driver status 4"},
        {{.err = EIO}, quick, "SG_IO failed: Input/output error; not sent again: it may have run"},
        {{.err = EINVAL}, quick, "SG_IO failed: Invalid argument (not sent)"},
        {{.data = {0, 0x0F, 0x42, 0x3F}, .resid = 4}, cap, "short capacity answer: 4 of 8 bytes"},
        {{.data = {0, 0, 0x10, 0, 0, 0, 0x10, 0}}, cap, "sector size 4096, not 512"},
        {{.data = {0, 0, 0, 1}, .resid = 24}, cap16, "short capacity answer: 8 of 12 bytes"},
        {{.data = {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x10, 0}}, cap16, "sector size 4096, not 512"},
    };
    auto d = usbDrive();
    for (const auto& [answer, cmd, reason] : cases) {
        sg->answers = {answer};
        const Outcome o = run(*d, cmd);
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.reason, reason);
    }
    // None of these means the drive is gone: the next command goes out.
    EXPECT_TRUE(run(*d, quick).ok);
    // RECOVERED ERROR: the command did complete.
    sg->answers = {checkCondition(0x01, 0x18)};
    sg->answers[0].data = {1, 2, 3, 4};
    std::vector<uint8_t> in(512);
    EXPECT_TRUE(d->execute(read, in).ok);
    EXPECT_EQ(in[3], 4);
}

// Asked again only what the drive said it did not run, and never past the
// ready wait; the pauses run on the fake clock.
TEST_F(SgExecutorTest, RetriesOnlyWhatTheDriveDidNotRun) {
    using std::chrono::milliseconds;
    const Answer attention = checkCondition(0x06, 0x29);
    Answer becoming = sensed({0x72, 0x02, 0x04, 0x01});
    const auto times = [](const Answer& a, int n) { return std::vector<Answer>(n, a); };
    const auto then = [](std::vector<Answer> v, const Answer& a) {
        v.push_back(a);
        return v;
    };
    struct Case {
        std::vector<Answer> answers;
        size_t sends;
        const char* reason; // "": done
        milliseconds paused;
        milliseconds ready = std::chrono::seconds(30);
        bool write = false; // else a read
    };
    const milliseconds none(0);
    const auto s30 = std::chrono::seconds(30);
    // clang-format off
    const Case cases[] = {
        {{{.err = EINTR}}, 1, "interrupted; not sent again: it may have run", none},
        {{{.hostStatus = 0x03}}, 1, "timed out after 30 s (DID_TIME_OUT)", none},
        {{attention}, 2, "", none},
        {times(attention, 9), 4, "UNIT ATTENTION 6/29/00 (4 attempts)", none},
        {then(times(becoming, 3), {}), 4, "", milliseconds(700)},
        // 100, 200, 400 ms, then 500 ms pauses while they fit in the wait.
        {times(becoming, 99), 62, "NOT READY 2/04/01 (not ready within 30 s)", milliseconds(29700)},
        {times(becoming, 9), 4, "NOT READY 2/04/01 (not ready within 1 s)", milliseconds(700),
            std::chrono::seconds(1)},
        {{checkCondition(0x02, 0x3A)}, 1, "NOT READY 2/3A/00", none},
        {{sensed({0x72, 0x02, 0x04, 0x02})}, 1, "NOT READY 2/04/02", none},
        // A write is not sent to a medium that may have been swapped.
        {{checkCondition(0x06, 0x28)}, 1,
            "UNIT ATTENTION 6/28/00 (the medium may have changed; not sent again)", none, s30, true},
        {{checkCondition(0x06, 0x28)}, 2, "", none, s30, false},
    };
    // clang-format on
    tree.add(FakeDrive{});
    const Command read = *encodeRead(3, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        QuorlinkConf conf = sgtest::lineConf();
        conf.timeouts.ready = c.ready;
        auto d = sg::makeSgExecutor(tree.roots(), sg, std::nullopt, conf)->open(0).device;
        ASSERT_NE(d, nullptr);
        sg->sent.clear();
        sg->paused = milliseconds(0);
        sg->answers = {c.answers.begin(), c.answers.end()};
        const Outcome o = run(*d, c.write ? *encodeWrite(3, 1, kPattern) : read);
        EXPECT_EQ(o.ok, *c.reason == '\0');
        EXPECT_EQ(o.reason, c.reason);
        EXPECT_EQ(sg->sent.size(), c.sends);
        EXPECT_EQ(sg->paused, c.paused);
        EXPECT_LE(sg->paused, c.ready);
        for (const auto& s : sg->sent) {
            EXPECT_EQ(s.cdb, sg->sent[0].cdb);
        }
    }
}

// What was written reaches the medium before anything else is asked, and
// the kernel re-reads the partition table at release: on the claimed disk,
// after the flush, before the claim goes.
TEST_F(SgExecutorTest, WritesAreFlushedBeforeTheNextCommandAndAtRelease) {
    const Answer mediumError = checkCondition(0x03, 0x0C);
    struct Case {
        const char* steps; // W write, R read, V vendor read
        std::vector<Answer> answers;
        std::vector<uint8_t> opcodes; // as sent, release included
        const char* lastReason;       // of the last step
        bool reread;
        int rereadErrno = 0;
        const char* released = ""; // in what release says
    };
    // clang-format off
    const Case cases[] = {
        {"WWR", {}, {0x2A, 0x2A, 0x35, 0x28}, "", true},
        {"WRR", {}, {0x2A, 0x35, 0x28, 0x28}, "", true},
        {"WV", {}, {0x2A, 0x35, 0xC6}, "", true},
        {"W", {}, {0x2A, 0x35}, "", true},
        {"RR", {}, {0x28, 0x28}, "", false},
        // A drive without a write cache rejects the flush: nothing to wait for.
        {"WR", {{}, checkCondition(0x05, 0x20)}, {0x2A, 0x35, 0x28}, "", true},
        // A failed flush fails the command that needed it, which is not sent,
        // and is tried again before the next one and at release.
        {"WR", {{}, mediumError}, {0x2A, 0x35, 0x35},
            "SYNCHRONIZE CACHE failed: MEDIUM ERROR 3/0C/00", true},
        {"WRR", {{}, mediumError}, {0x2A, 0x35, 0x35, 0x28}, "", true},
        // Without CAP_SYS_ADMIN udev re-reads it, once the disk is let go.
        {"W", {}, {0x2A, 0x35}, "", true, EACCES, "sdb not re-read (Permission denied): left to udev"},
    };
    // clang-format on
    tree.add(FakeDrive{});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps);
        auto d = open(0);
        ASSERT_NE(d, nullptr);
        sg->sent.clear();
        sg->rereads.clear();
        sg->answers = {c.answers.begin(), c.answers.end()};
        Outcome last;
        for (const char* step = c.steps; *step != '\0'; ++step) {
            last = run(*d, *step == 'W'   ? *encodeWrite(0, 1, kPattern)
                           : *step == 'R' ? *encodeRead(0, 1)
                                          : vendor(VendorForm::Read, 0x75));
        }
        EXPECT_EQ(last.reason, c.lastReason);
        sg->rereadErrno = c.rereadErrno;
        EXPECT_THAT(d->release(), HasSubstr(c.released));
        d.reset();
        std::vector<uint8_t> opcodes;
        for (const auto& s : sg->sent) {
            opcodes.push_back(s.cdb[0]);
        }
        EXPECT_EQ(opcodes, c.opcodes);
        std::vector<std::pair<std::string, size_t>> rereads;
        if (c.reread) {
            rereads.emplace_back((tree.roots().dev / "sdb").string(), c.opcodes.size());
        }
        EXPECT_EQ(sg->rereads, rereads);
        std::vector<std::pair<std::string, size_t>> announced;
        if (c.rereadErrno != 0) {
            announced.emplace_back((tree.roots().dev / "sdb").string(), 0);
        }
        EXPECT_EQ(sg->announced, announced);
        sg->announced.clear();
    }
}

TEST_F(SgExecutorTest, ModeSenseFallsBackWhenTheDriveRejectsAllPages) {
    struct Case {
        std::vector<Answer> answers;
        std::vector<std::vector<uint8_t>> cdbs; // as sent, in order
        bool ok;
        uint8_t header2; // write-protect byte seen
    };
    const std::vector<uint8_t> all = {0x1A, 0, 0x3F, 0, 192, 0};
    const std::vector<uint8_t> page0 = {0x1A, 0, 0x00, 0, 192, 0};
    const std::vector<uint8_t> header = {0x1A, 0, 0x3F, 0, 4, 0};
    const Answer rejected = checkCondition(0x05, 0x24);
    const Case cases[] = {
        {{{.data = {0x23, 0, 0x80, 0}, .resid = 188}}, {all}, true, 0x80},
        {{rejected, {.data = {0x03, 0, 0x80, 0}, .resid = 188}}, {all, page0}, true, 0x80},
        {{rejected, rejected, {.data = {0x03, 0, 0x80, 0}}}, {all, page0, header}, true, 0x80},
        {{rejected, rejected, {.data = {0x03, 0, 0x00, 0}}}, {all, page0, header}, true, 0x00},
        {{rejected, rejected, rejected}, {all, page0, header}, false, 0},
        // Only a refusal of the request itself is worth another form.
        {{checkCondition(0x02, 0x3A)}, {all}, false, 0},
    };
    auto d = usbDrive();
    for (const Case& c : cases) {
        sg->sent.clear();
        sg->answers = {c.answers.begin(), c.answers.end()};
        std::vector<uint8_t> mode(kModeSenseAllocation, 0xEE);
        EXPECT_EQ(d->execute(encodeModeSense(), mode).ok, c.ok);
        ASSERT_EQ(sg->sent.size(), c.cdbs.size());
        for (size_t i = 0; i < c.cdbs.size(); ++i) {
            EXPECT_EQ(sg->sent[i].cdb, c.cdbs[i]);
            EXPECT_EQ(sg->sent[i].length, c.cdbs[i][4]);
        }
        if (c.ok) {
            EXPECT_EQ(mode[2], c.header2);
            EXPECT_EQ(mode[100], 0) << "bytes the drive did not send are zero";
        }
    }
}

bool fdOpenOn(const fs::path& target) {
    std::error_code ec;
    for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkEc;
        if (fs::read_symlink(it->path(), linkEc) == target) {
            return true;
        }
    }
    return false;
}

TEST_F(SgExecutorTest, PulledDriveFailsAtOnceAndStaysReleasable) {
    tree.add(FakeDrive{});
    for (const Answer& gone : {Answer{.err = ENODEV}, Answer{.hostStatus = 0x01}}) {
        auto d = open(0);
        ASSERT_TRUE(fdOpenOn(tree.devPath(1)));
        sg->sent.clear();
        sg->answers = {gone};
        EXPECT_THAT(run(*d, *encodeRead(0, 1)).reason, StartsWith("drive removed ("));
        // Later commands fail without asking the missing drive again.
        EXPECT_EQ(run(*d, encodeTestUnitReady()).reason, "drive removed");
        EXPECT_EQ(sg->sent.size(), 1u);
        d.reset();
        EXPECT_FALSE(fdOpenOn(tree.devPath(1)));
    }
}

// ---- the write guard ----------------------------------------------------

// Every reason a command that changes the drive is refused before it is
// sent; reads still go, and nothing is left claimed.
TEST(SgGuard, WritesAndVendorCommandsAreRefusedReadsAllowed) {
    using Change = void (*)(sgtest::FakeTree&, const fs::path& usbDevice);
    struct Case {
        FakeDrive drive{};
        const char* mountLine = ""; // appended to the mount table; nullptr: no table
        int claimErrno = 0;         // of the exclusive open of /dev/sdb
        Change afterOpen = nullptr; // sysfs changes while the handle is open
        const char* reason = "";    // after "refused: "
    };
    const Change serial = [](sgtest::FakeTree&, const fs::path& usb) {
        sgtest::writeFile(usb / "serial", "XY99\n");
    };
    const Change product = [](sgtest::FakeTree&, const fs::path& usb) {
        sgtest::writeFile(usb / "idProduct", "9999\n");
    };
    const Change gone = [](sgtest::FakeTree& t, const fs::path&) { fs::remove_all(t.sgEntry(1)); };
    // clang-format off
    const Case cases[] = {
        // Reached through [Ports] (0 = 1-1), as only there an off-list drive is.
        {.drive = {.vid = 0xABCD}, .reason = "USB abcd:5678 is not in [Drives] Allow= of /etc/quorlink/test.conf"},
        {.drive = {.block = ""}, .reason = "/dev/sg1 has no block device yet"},
        {.drive = {.blockSize = 4096}, .reason = "/dev/sdb has 4096-byte logical blocks, not 512"},
        {.drive = {.blockSize = 0}, .reason = "cannot read the logical block size of /dev/sdb"},
        {.drive = {.holder = "dm-0"}, .reason = "/dev/sdb is held by dm-0"},
        {.mountLine = "40 22 8:17 / /media/op/STICK rw - vfat /dev/mapper/x rw\n",
            .reason = "/dev/sdb1 is mounted on /media/op/STICK"},
        {.mountLine = "41 22 0:99 / /media/op/my\\040stick rw - vfat /dev/sdb1 rw\n",
            .reason = "/dev/sdb1 is mounted on /media/op/my stick"},
        {.mountLine = "42 22 8:16 / /mnt rw - vfat /dev/sdb rw\n", .reason = "/dev/sdb is mounted on /mnt"},
        {.mountLine = nullptr, .reason = "cannot read the mount table"},
        {.claimErrno = EBUSY, .reason = "/dev/sdb is in use by another program"},
        {.claimErrno = EACCES, .reason = "cannot claim /dev/sdb: Permission denied"},
        // sysfs knows the disk but /dev has no node (a container, or udev is late).
        {.claimErrno = ENOENT, .reason = "cannot claim /dev/sdb: No such file or directory"},
        {.afterOpen = serial, .reason = "/dev/sg1 changed since it was opened (serial 0123ABCD -> XY99)"},
        {.afterOpen = product, .reason = "/dev/sg1 changed since it was opened (USB 1234:5678 -> 1234:9999)"},
        {.afterOpen = gone, .reason = "/dev/sg1 changed since it was opened (gone from sysfs)"},
    };
    // clang-format on
    std::vector<Command> changing = {*encodeWrite(0, 1, kPattern),
                                     vendor(VendorForm::Write, 0x82, kPattern),
                                     vendor(VendorForm::Read, 0x75),
                                     *encodeVendor(VendorForm::ChipUnit, 0x94, 1, 2, 0, 0, 0, 512),
                                     *encodeVendor(VendorForm::Scan, 0x93, 0, 0, 1, 0, 0, 512)};
    // A writing opcode is guarded whatever direction it claims.
    for (uint8_t opcode : {0x2A, 0x04, 0x8A, 0x42}) {
        changing.push_back(encodeTestUnitReady());
        changing.back().cdb[0] = opcode;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        sgtest::FakeTree tree;
        auto sg = std::make_shared<sgtest::ScriptedSg>();
        if (c.mountLine == nullptr) {
            tree.removeMountInfo();
        } else {
            tree.setMountInfo(c.mountLine);
        }
        if (c.claimErrno != 0) {
            sg->busy[(tree.roots().dev / "sdb").string()] = c.claimErrno;
        }
        const fs::path usbDevice = tree.add(c.drive);
        QuorlinkConf conf = sgtest::lineConf();
        conf.ports = {{0, "1-1"}};
        auto d = sg::makeSgExecutor(tree.roots(), sg, std::nullopt, sgtest::loaded(conf))
                     ->open(0)
                     .device;
        ASSERT_NE(d, nullptr);
        if (c.afterOpen != nullptr) {
            c.afterOpen(tree, usbDevice);
        }
        for (const Command& cmd : changing) {
            std::vector<uint8_t> in(cmd.direction == Direction::In ? cmd.dataLength : 0);
            EXPECT_THAT(d->execute(cmd, in).reason, StartsWith(std::string("refused: ") + c.reason))
                << int(cmd.cdb[1]);
        }
        EXPECT_TRUE(sg->sent.empty()) << "a refused command reached the drive";
        EXPECT_TRUE(sg->held.empty());
        std::vector<uint8_t> sector(512);
        EXPECT_TRUE(d->execute(*encodeRead(0, 1), sector).ok);
        EXPECT_TRUE(d->execute(encodeTestUnitReady(), {}).ok);
    }
}

TEST_F(SgExecutorTest, WholeDiskIsHeldFromTheFirstChangeUntilRelease) {
    tree.setMountInfo("43 22 8:33 / /media/op/OTHER rw - vfat /dev/sdc1 rw\n");
    auto d = usbDrive();
    ASSERT_TRUE(run(*d, *encodeRead(0, 1)).ok);
    EXPECT_EQ(sg->claims, 0) << "reading claims nothing";
    ASSERT_TRUE(run(*d, *encodeWrite(0, 2, kPattern)).ok);
    const std::map<int, std::string> held = sg->held;
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held.begin()->second, (tree.roots().dev / "sdb").string());
    ASSERT_TRUE(run(*d, vendor(VendorForm::Read, 0x75)).ok);
    EXPECT_EQ(sg->held, held) << "one claim for the whole handle, not one per command";
    EXPECT_EQ(sg->claims, 1);
    // An automounter picking up a partition is still seen.
    tree.setMountInfo("44 22 8:17 / /media/op/NEW rw - vfat /dev/sdb1 rw\n");
    EXPECT_EQ(run(*d, *encodeWrite(1, 1, kPattern)).reason,
              "refused: /dev/sdb1 is mounted on /media/op/NEW");
    d.reset();
    EXPECT_TRUE(sg->held.empty()) << "releasing the handle frees the disk";
}

// The C API over this fixture's executor: replies and the failures-only
// trace in the tree, by default and without a word from the caller.
class SgApiTest : public SgExecutorTest {
protected:
    void install(ConfLoad load) {
        ::setenv("QUORLINK_REPLY_DIR", (tree.root() / "replies").c_str(), 1);
        ::unsetenv("QUORLINK_TRACE");
        installExecutorForTesting(
            sg::makeSgExecutor(tree.roots(), sg, TraceTarget{tree.root() / "trace", true}, load));
    }
    void TearDown() override {
        installExecutorForTesting(nullptr);
        ::unsetenv("QUORLINK_REPLY_DIR");
    }
    static std::string slurp(const fs::path& file) {
        std::ifstream in(file);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

// Capacities past 32 bits, the write-protect bit at byte 82, and a refusal
// with its reason in the trace.
TEST_F(SgApiTest, CapacityWriteProtectAndTrace) {
    tree.add(FakeDrive{});
    tree.setMountInfo("45 22 8:17 / /mnt/stick rw - vfat /dev/sdb1 rw\n");
    install(sgtest::loaded(sgtest::lineConf()));
    EXPECT_EQ(fnQuorbus_GetDiskHandle(5), 0); // empty index: no news
    const int32_t h = fnQuorbus_GetDiskHandle(0);
    ASSERT_NE(h, 0);
    sg->answers = {{.data = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0}},
                   {.data = {0, 0, 0, 1, 0, 0, 0, 0x0F, 0, 0, 2, 0}},
                   {.data = {0x03, 0, 0x80, 0}}};
    EXPECT_EQ(fnQuorbus_ReadCapacity(h), 1);
    EXPECT_EQ(slurp(replyPaths().text), "4294967312\r\n");
    EXPECT_EQ(fnQuorbus_ModeSense(h), 1);
    EXPECT_EQ(slurp(replyPaths().binary).at(82), '\x80');
    EXPECT_EQ(fnQuorbus_Read(h, 1, 0), 1);
    EXPECT_EQ(fnQuorbus_Write(h, 1, 7, kPattern.data()), 0);
    const std::string lines = slurp(tree.root() / "trace");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << lines;
    EXPECT_THAT(lines, StartsWith("{\"fn\":\"fnQuorbus_Write\",\"drive\":0,\"args\":["));
    EXPECT_THAT(lines, HasSubstr("\"reason\":\"refused: /dev/sdb1 is mounted on /mnt/stick\""));
}

// quorlink.conf's timeouts and vendor block layout reach the drive.
TEST_F(SgApiTest, ConfTimeoutsAndVendorLayoutReachTheDrive) {
    tree.add(FakeDrive{});
    ConfLoad load = sgtest::loaded(sgtest::lineConf());
    load.conf.timeouts.quick = std::chrono::seconds(5);
    load.conf.timeouts.vendor = std::chrono::seconds(600);
    load.conf.vendorBlock.opcode = 0xF0;
    load.conf.vendorBlock.code = {12, 1, true};
    install(load);
    const int32_t h = fnQuorbus_GetDiskHandle(0);
    ASSERT_NE(h, 0);
    EXPECT_EQ(fnQuorbus_TestUnitReady(h), 1);
    EXPECT_EQ(fnQuorbus_VendorR(h, 0x75, 0, 512), 1);
    ASSERT_EQ(sg->sent.size(), 2u);
    EXPECT_EQ(sg->sent[0].timeout, 5000u);
    EXPECT_EQ(sg->sent[1].timeout, 600000u);
    EXPECT_EQ(sg->sent[1].cdb,
              (std::vector<uint8_t>{0xF0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0x75, 0, 0, 0}));
}

// A release that could not flush closes the handle all the same, and says why.
TEST_F(SgApiTest, ReleaseFailuresReachTheTrace) {
    tree.add(FakeDrive{});
    install(sgtest::loaded(sgtest::lineConf()));
    const int32_t h = fnQuorbus_GetDiskHandle(0);
    ASSERT_NE(h, 0);
    EXPECT_EQ(fnQuorbus_Write(h, 1, 0, kPattern.data()), 1);
    sg->answers = {checkCondition(0x03, 0x0C)};
    sg->rereadErrno = EBUSY;
    EXPECT_EQ(fnQuorbus_CloseHandle(h), 1);
    EXPECT_EQ(fnQuorbus_CloseHandle(h), 0);
    const std::string first = slurp(tree.root() / "trace");
    EXPECT_THAT(first, StartsWith("{\"fn\":\"fnQuorbus_CloseHandle\",\"drive\":0,"));
    EXPECT_THAT(first, HasSubstr("\"status\":1,\"reason\":\"SYNCHRONIZE CACHE failed: MEDIUM ERROR "
                                 "3/0C/00; partition table of /dev/sdb not re-read: Device or "
                                 "resource busy\""));
    EXPECT_EQ(sg->sent.size(), 2u) << "the write, then the flush once, at release";
}

} // namespace
