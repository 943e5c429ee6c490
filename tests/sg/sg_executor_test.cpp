// The SG_IO executor against a fake sysfs tree and recorded drive answers.
#include "encoder.h"
#include "fake_sysfs.h"
#include "sg_executor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

namespace {
namespace fs = std::filesystem;
using namespace quorlink;
using sgtest::Answer;
using sgtest::FakeDrive;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

std::vector<uint8_t> sense(uint8_t key, uint8_t asc, uint8_t ascq) {
    std::vector<uint8_t> b(18, 0);
    b[0] = 0x70;
    b[2] = key;
    b[7] = 10;
    b[12] = asc;
    b[13] = ascq;
    return b;
}

Answer checkCondition(uint8_t key, uint8_t asc, uint8_t ascq) {
    Answer a;
    a.status = 0x02;
    a.driverStatus = 0x08;
    a.sense = sense(key, asc, ascq);
    return a;
}

class SgExecutorTest : public ::testing::Test {
protected:
    void SetUp() override {
        sg = std::make_shared<sgtest::ScriptedSg>();
        exec = sg::makeSgExecutor(tree.roots(), sg);
    }

    std::unique_ptr<Device> openDrive(int index, std::string* line = nullptr) {
        OpenResult r = exec->open(index);
        if (line != nullptr) {
            *line = r.deviceLine;
        }
        return std::move(r.device);
    }

    // A drive that is plainly fine to write: USB storage, nothing mounted.
    std::unique_ptr<Device> usbDrive() {
        tree.add(FakeDrive{});
        auto d = openDrive(1);
        EXPECT_NE(d, nullptr);
        return d;
    }

    sgtest::FakeTree tree;
    std::shared_ptr<sgtest::ScriptedSg> sg;
    std::unique_ptr<Executor> exec;
};

// ---- device lines -------------------------------------------------------

struct LineCase {
    const char* name;
    FakeDrive drive;
    const char* line;
};

// Test names carry the case; keep gtest from dumping its bytes.
void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

FakeDrive withDriver(std::string driver) {
    FakeDrive d;
    d.driver = std::move(driver);
    return d;
}

FakeDrive sataDisk(std::string model = "FastDisk 512") {
    FakeDrive d;
    d.index = 0;
    d.driver = "";
    d.vendor = "ATA";
    d.model = std::move(model);
    d.rev = "1A2B";
    d.block = "sda";
    d.devId = "8:0";
    d.partitions = {{"sda1", "8:1"}};
    return d;
}

FakeDrive noSerial() {
    FakeDrive d;
    d.serial = "";
    return d;
}

FakeDrive cdrom() {
    FakeDrive d;
    d.type = 5;
    d.vendor = "Acme";
    d.model = "Disc";
    return d;
}

class DeviceLineTest : public SgExecutorTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(DeviceLineTest, DescribesTheDeviceFromSysfs) {
    const auto& c = GetParam();
    tree.add(c.drive);
    std::string line;
    auto d = openDrive(c.drive.index, &line);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(line, c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DeviceLineTest,
    ::testing::Values(
        LineCase{"UsbStorage", withDriver("usb-storage"),
                 "USBSTOR\\Disk&Ven_Acme&Prod_Line_Stick&Rev_1.00\\0123ABCD"},
        LineCase{"Uas", withDriver("uas"),
                 "USBSTOR\\Disk&Ven_Acme&Prod_Line_Stick&Rev_1.00\\0123ABCD"},
        LineCase{"SataDisk", sataDisk(), "SCSI\\Disk&Ven_ATA&Prod_FastDisk_512&Rev_1A2B"},
        // A non-USB disk whose model pretends otherwise still must not pass as
        // USB storage.
        LineCase{"SataDiskNamedLikeUsb", sataDisk("UsbStor Disk"),
                 "SCSI\\Disk&Ven_ATA&Prod_USB_STOR_Disk&Rev_1A2B"},
        LineCase{"UsbWithoutSerial", noSerial(),
                 "USBSTOR\\Disk&Ven_Acme&Prod_Line_Stick&Rev_1.00\\0"},
        LineCase{"UsbCdrom", cdrom(), "USBSTOR\\CdRom&Ven_Acme&Prod_Disc&Rev_1.00\\0123ABCD"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SgExecutorTest, NoDeviceNodeMeansNoDrive) {
    FakeDrive d;
    d.devNode = false;
    tree.add(d);
    EXPECT_EQ(openDrive(1), nullptr);
    EXPECT_EQ(openDrive(7), nullptr);
    EXPECT_EQ(openDrive(-1), nullptr);
}

TEST_F(SgExecutorTest, NodeWithoutSysfsEntryIsNotUsbStorage) {
    std::ofstream(tree.devPath(4)).put('\0');
    std::string line;
    auto d = openDrive(4, &line);
    ASSERT_NE(d, nullptr);
    EXPECT_THAT(line, Not(HasSubstr("USBSTOR")));
    const std::array<uint8_t, 512> sector{};
    const Outcome o = d->execute(*encodeWrite(0, 1, sector), {});
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason, "refused: /dev/sg4 is not USB storage");
    EXPECT_TRUE(sg->sent.empty());
}

// ---- what goes to the kernel ---------------------------------------------

struct SendCase {
    const char* name;
    Command cmd;
    int direction;
    unsigned timeoutMs;
};

void PrintTo(const SendCase& c, std::ostream* os) {
    *os << c.name;
}

class SendTest : public SgExecutorTest, public ::testing::WithParamInterface<SendCase> {};

const std::array<uint8_t, 1024> kPattern = [] {
    std::array<uint8_t, 1024> a{};
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return a;
}();

TEST_P(SendTest, BlockDirectionLengthAndTimeout) {
    const auto& c = GetParam();
    auto d = usbDrive();
    std::vector<uint8_t> in(c.cmd.dataLength);
    ASSERT_TRUE(d->execute(c.cmd, in).ok);
    ASSERT_EQ(sg->sent.size(), 1u);
    const auto& s = sg->sent[0];
    EXPECT_EQ(s.cdb, std::vector<uint8_t>(c.cmd.cdb.begin(), c.cmd.cdb.begin() + c.cmd.cdbLength));
    EXPECT_EQ(s.direction, c.direction);
    EXPECT_EQ(s.length, c.cmd.dataLength);
    EXPECT_EQ(s.timeout, c.timeoutMs);
    if (c.direction == SG_DXFER_TO_DEV) {
        EXPECT_EQ(s.dataOut, std::vector<uint8_t>(c.cmd.dataOut.begin(), c.cmd.dataOut.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SendTest,
    ::testing::Values(SendCase{"TestUnitReady", encodeTestUnitReady(), SG_DXFER_NONE, 10000},
                      SendCase{"ModeSense", encodeModeSense(), SG_DXFER_FROM_DEV, 10000},
                      SendCase{"Read", *encodeRead(75, 1), SG_DXFER_FROM_DEV, 30000},
                      SendCase{"Write", *encodeWrite(32, 2, kPattern), SG_DXFER_TO_DEV, 30000},
                      SendCase{"VendorRead",
                               *encodeVendor(VendorForm::Read, 0x75, 0, 0, 0, 0, 0, 512),
                               SG_DXFER_FROM_DEV, 60000},
                      SendCase{"VendorWrite",
                               *encodeVendor(VendorForm::Write, 0x82, 0, 0, 0, 0, 0, 512, kPattern),
                               SG_DXFER_TO_DEV, 60000}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- answers ----------------------------------------------------------------

TEST_F(SgExecutorTest, ReadCapacityAnswersPassThrough) {
    auto d = usbDrive();
    Answer rc10;
    rc10.data = {0x00, 0x0F, 0x42, 0x3F, 0x00, 0x00, 0x02, 0x00};
    Answer rc16;
    rc16.data = {0x00, 0x00, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0x00, 0x00, 0x02, 0x00};
    rc16.resid = 32 - 12;
    sg->answers = {rc10, rc16};

    std::array<uint8_t, 8> a10{};
    ASSERT_TRUE(d->execute(encodeReadCapacity10(), a10).ok);
    EXPECT_EQ(std::vector<uint8_t>(a10.begin(), a10.end()), rc10.data);

    std::array<uint8_t, 32> a16;
    a16.fill(0xEE);
    ASSERT_TRUE(d->execute(encodeReadCapacity16(), a16).ok);
    EXPECT_EQ(std::vector<uint8_t>(a16.begin(), a16.begin() + 12), rc16.data);
    // What the drive did not send is zero, not stale buffer contents.
    for (size_t i = 12; i < a16.size(); ++i) {
        EXPECT_EQ(a16[i], 0) << "byte " << i;
    }
}

struct CapacityFault {
    const char* name;
    Answer answer;
    const char* reason;
};

void PrintTo(const CapacityFault& c, std::ostream* os) {
    *os << c.name;
}

Answer capacity(std::vector<uint8_t> bytes, int resid) {
    Answer a;
    a.data = std::move(bytes);
    a.resid = resid;
    return a;
}

class CapacityFaultTest : public SgExecutorTest,
                          public ::testing::WithParamInterface<CapacityFault> {};

TEST_P(CapacityFaultTest, UnusableCapacityAnswerFails) {
    auto d = usbDrive();
    sg->answers = {GetParam().answer};
    std::array<uint8_t, 8> a{};
    const Outcome o = d->execute(encodeReadCapacity10(), a);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CapacityFaultTest,
    ::testing::Values(CapacityFault{"Short", capacity({0x00, 0x0F, 0x42, 0x3F}, 4),
                                    "short capacity answer: 4 of 8 bytes"},
                      CapacityFault{"Empty", capacity({}, 8),
                                    "short capacity answer: 0 of 8 bytes"},
                      CapacityFault{"BigSectors", capacity({0, 0, 0x10, 0, 0, 0, 0x10, 0}, 0),
                                    "sector size 4096, not 512"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SgExecutorTest, WriteProtectBitOfModeDataPassesThrough) {
    auto d = usbDrive();
    Answer protectedAnswer;
    protectedAnswer.data = {0x23, 0x00, 0x80, 0x00};
    protectedAnswer.resid = kModeSenseAllocation - 4;
    Answer openAnswer;
    openAnswer.data = {0x23, 0x00, 0x00, 0x00};
    openAnswer.resid = kModeSenseAllocation - 4;
    sg->answers = {protectedAnswer, openAnswer};

    std::vector<uint8_t> mode(kModeSenseAllocation, 0xEE);
    ASSERT_TRUE(d->execute(encodeModeSense(), mode).ok);
    EXPECT_EQ(mode[2], 0x80);
    EXPECT_EQ(mode[4], 0x00);
    ASSERT_TRUE(d->execute(encodeModeSense(), mode).ok);
    EXPECT_EQ(mode[2], 0x00);
}

struct FailureCase {
    const char* name;
    Answer answer;
    CommandClass cls;
    const char* reason;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

Answer hostStatus(uint16_t host) {
    Answer a;
    a.hostStatus = host;
    return a;
}

Answer driverStatus(uint16_t driver) {
    Answer a;
    a.driverStatus = driver;
    return a;
}

Answer scsiStatus(uint8_t status) {
    Answer a;
    a.status = status;
    return a;
}

class FailureTest : public SgExecutorTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, FailedCommandCarriesReason) {
    const auto& c = GetParam();
    auto d = usbDrive();
    sg->answers = {c.answer};
    Command cmd = *encodeRead(0, 1);
    cmd.commandClass = c.cls;
    std::vector<uint8_t> in(cmd.dataLength);
    const Outcome o = d->execute(cmd, in);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason, c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FailureTest,
    ::testing::Values(
        FailureCase{"NotReady", checkCondition(0x02, 0x3A, 0x00), CommandClass::Transfer,
                    "NOT READY 2/3A/00"},
        FailureCase{"MediumError", checkCondition(0x03, 0x11, 0x00), CommandClass::Transfer,
                    "MEDIUM ERROR 3/11/00"},
        FailureCase{"DataProtect", checkCondition(0x07, 0x27, 0x00), CommandClass::Transfer,
                    "DATA PROTECT 7/27/00"},
        FailureCase{"CheckConditionNoSense", scsiStatus(0x02), CommandClass::Transfer,
                    "CHECK CONDITION without sense data"},
        FailureCase{"Busy", scsiStatus(0x08), CommandClass::Transfer, "BUSY"},
        FailureCase{"OddStatus", scsiStatus(0x22), CommandClass::Transfer, "status 0x22"},
        FailureCase{"HostTimeoutQuick", hostStatus(0x03), CommandClass::Quick,
                    "timed out after 10 s (DID_TIME_OUT)"},
        FailureCase{"HostTimeoutVendor", hostStatus(0x03), CommandClass::Vendor,
                    "timed out after 60 s (DID_TIME_OUT)"},
        FailureCase{"DriverTimeout", driverStatus(0x06), CommandClass::Transfer,
                    "timed out after 30 s"},
        FailureCase{"HostError", hostStatus(0x07), CommandClass::Transfer,
                    "transport error DID_ERROR"},
        FailureCase{"HostUnknown", hostStatus(0x42), CommandClass::Transfer,
                    "transport error host status 0x42"},
        FailureCase{"DriverError", driverStatus(0x04), CommandClass::Transfer, "driver status 4"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SgExecutorTest, RecoveredErrorCountsAsDone) {
    auto d = usbDrive();
    Answer a = checkCondition(0x01, 0x18, 0x00);
    a.data = {1, 2, 3, 4};
    sg->answers = {a};
    std::vector<uint8_t> in(512);
    const Outcome o = d->execute(*encodeRead(0, 1), in);
    EXPECT_TRUE(o.ok) << o.reason;
    EXPECT_EQ(in[3], 4);
}

TEST_F(SgExecutorTest, BuffersTooSmallForTheTransferFailBeforeTheKernel) {
    auto d = usbDrive();
    std::vector<uint8_t> small(100);
    EXPECT_FALSE(d->execute(*encodeRead(0, 1), small).ok);
    Command w = *encodeWrite(0, 1, kPattern);
    w.dataOut = w.dataOut.first(10);
    EXPECT_FALSE(d->execute(w, {}).ok);
    Command none = encodeTestUnitReady();
    none.cdbLength = 0;
    EXPECT_FALSE(d->execute(none, {}).ok);
    EXPECT_TRUE(sg->sent.empty());
}

// ---- a drive pulled mid-run -------------------------------------------------

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

TEST_F(SgExecutorTest, PulledDriveFailsAndStaysReleasable) {
    auto d = usbDrive();
    ASSERT_TRUE(fdOpenOn(tree.devPath(1)));
    Answer gone;
    gone.err = ENODEV;
    sg->answers = {gone};
    std::vector<uint8_t> in(512);
    Outcome o = d->execute(*encodeRead(0, 1), in);
    EXPECT_FALSE(o.ok);
    EXPECT_THAT(o.reason, HasSubstr("drive removed"));
    // Later commands fail at once instead of asking a missing drive again.
    o = d->execute(encodeTestUnitReady(), {});
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason, "drive removed");
    EXPECT_EQ(sg->sent.size(), 1u);
    d.reset();
    EXPECT_FALSE(fdOpenOn(tree.devPath(1)));
}

TEST_F(SgExecutorTest, NoConnectHostStatusAlsoMeansPulled) {
    auto d = usbDrive();
    sg->answers = {hostStatus(0x01)};
    EXPECT_EQ(d->execute(encodeTestUnitReady(), {}).reason, "drive removed (DID_NO_CONNECT)");
    EXPECT_EQ(d->execute(encodeTestUnitReady(), {}).reason, "drive removed");
    EXPECT_EQ(sg->sent.size(), 1u);
}

TEST_F(SgExecutorTest, InputOutputErrorFailsOneCommandOnly) {
    auto d = usbDrive();
    Answer eio;
    eio.err = EIO;
    sg->answers = {eio};
    const Outcome first = d->execute(encodeTestUnitReady(), {});
    EXPECT_FALSE(first.ok);
    EXPECT_EQ(first.reason, "SG_IO failed: Input/output error");
    EXPECT_TRUE(d->execute(encodeTestUnitReady(), {}).ok);
    EXPECT_EQ(sg->sent.size(), 2u);
}

TEST_F(SgExecutorTest, ReleasingAHealthyDriveClosesItsNode) {
    auto d = usbDrive();
    ASSERT_TRUE(fdOpenOn(tree.devPath(1)));
    d.reset();
    EXPECT_FALSE(fdOpenOn(tree.devPath(1)));
}

// ---- the write guard ----------------------------------------------------------

enum class Hazard {
    NonUsb,
    CdRom,
    MountedById,
    MountedBySource,
    MountedWholeDisk,
    Busy,
    NoAccess,
    NoMountTable
};

struct RefusalCase {
    const char* name;
    Hazard hazard;
    const char* reason;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusalTest : public SgExecutorTest, public ::testing::WithParamInterface<RefusalCase> {
protected:
    std::unique_ptr<Device> prepare(Hazard s) {
        FakeDrive d;
        switch (s) {
        case Hazard::NonUsb:
            d = sataDisk();
            d.index = 1;
            break;
        case Hazard::CdRom:
            d = cdrom();
            break;
        case Hazard::MountedById:
            tree.setMountInfo("40 22 8:17 / /media/op/STICK rw - vfat /dev/mapper/x rw\n");
            break;
        case Hazard::MountedBySource:
            tree.setMountInfo("41 22 0:99 / /media/op/my\\040stick rw - vfat /dev/sdb1 rw\n");
            break;
        case Hazard::MountedWholeDisk:
            tree.setMountInfo("42 22 8:16 / /mnt rw shared:5 - vfat /dev/sdb rw\n");
            break;
        case Hazard::Busy:
            sg->busy[(tree.roots().dev / "sdb").string()] = EBUSY;
            break;
        case Hazard::NoAccess:
            sg->busy[(tree.roots().dev / "sdb").string()] = EACCES;
            break;
        case Hazard::NoMountTable:
            tree.removeMountInfo();
            break;
        }
        tree.add(d);
        return openDrive(1);
    }
};

std::vector<Command> drivingCommands() {
    return {*encodeWrite(0, 1, kPattern),
            *encodeVendor(VendorForm::Write, 0x82, 0, 0, 0, 0, 0, 512, kPattern),
            *encodeVendor(VendorForm::Read, 0x75, 0, 0, 0, 0, 0, 512),
            *encodeVendor(VendorForm::ChipUnit, 0x94, 1, 2, 0, 0, 0, 512),
            *encodeVendor(VendorForm::Scan, 0x93, 0, 0, 1, 0, 0, 512)};
}

TEST_P(RefusalTest, WritesAndVendorCommandsAreRefused) {
    auto d = prepare(GetParam().hazard);
    ASSERT_NE(d, nullptr);
    for (const Command& cmd : drivingCommands()) {
        std::vector<uint8_t> in(cmd.direction == Direction::In ? cmd.dataLength : 0);
        const Outcome o = d->execute(cmd, in);
        EXPECT_FALSE(o.ok) << "opcode " << int(cmd.cdb[0]) << " form " << int(cmd.cdb[1]);
        EXPECT_THAT(o.reason, StartsWith(GetParam().reason));
    }
    EXPECT_TRUE(sg->sent.empty()) << "a refused command reached the drive";
}

TEST_P(RefusalTest, ReadingStaysAllowed) {
    auto d = prepare(GetParam().hazard);
    ASSERT_NE(d, nullptr);
    std::vector<uint8_t> in(512);
    EXPECT_TRUE(d->execute(*encodeRead(0, 1), in).ok);
    EXPECT_TRUE(d->execute(encodeTestUnitReady(), {}).ok);
    EXPECT_EQ(sg->sent.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Guard, RefusalTest,
    ::testing::Values(
        RefusalCase{"NonUsb", Hazard::NonUsb, "refused: /dev/sg1 is not USB storage"},
        RefusalCase{"CdRom", Hazard::CdRom, "refused: /dev/sg1 is not a disk (peripheral type 5)"},
        RefusalCase{"MountedById", Hazard::MountedById,
                    "refused: /dev/sdb1 is mounted on /media/op/STICK"},
        RefusalCase{"MountedBySource", Hazard::MountedBySource,
                    "refused: /dev/sdb1 is mounted on /media/op/my stick"},
        RefusalCase{"MountedWholeDisk", Hazard::MountedWholeDisk,
                    "refused: /dev/sdb is mounted on /mnt"},
        RefusalCase{"Busy", Hazard::Busy, "refused: /dev/sdb is in use by another program"},
        RefusalCase{"NoAccess", Hazard::NoAccess,
                    "refused: cannot check whether /dev/sdb is in use: Permission denied"},
        RefusalCase{"NoMountTable", Hazard::NoMountTable, "refused: cannot read the mount table"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SgExecutorTest, FreeUsbDriveTakesWritesAfterProbingTheWholeDisk) {
    tree.setMountInfo("43 22 8:33 / /media/op/OTHER rw - vfat /dev/sdc1 rw\n");
    auto d = usbDrive();
    const Outcome o = d->execute(*encodeWrite(0, 2, kPattern), {});
    ASSERT_TRUE(o.ok) << o.reason;
    ASSERT_EQ(sg->sent.size(), 1u);
    EXPECT_EQ(sg->sent[0].dataOut, std::vector<uint8_t>(kPattern.begin(), kPattern.end()));
    EXPECT_EQ(sg->probed, std::vector<std::string>{(tree.roots().dev / "sdb").string()});
}

TEST_F(SgExecutorTest, GuardLooksAgainBeforeEveryWrite) {
    auto d = usbDrive();
    ASSERT_TRUE(d->execute(*encodeWrite(0, 1, kPattern), {}).ok);
    // An automounter picks up the freshly written partition.
    tree.setMountInfo("44 22 8:17 / /media/op/NEW rw - vfat /dev/sdb1 rw\n");
    const Outcome o = d->execute(*encodeWrite(1, 1, kPattern), {});
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason, "refused: /dev/sdb1 is mounted on /media/op/NEW");
    EXPECT_EQ(sg->sent.size(), 1u);
}

TEST_F(SgExecutorTest, WriteOpcodeIsGuardedWhateverItsDirection) {
    tree.add(sataDisk());
    auto d = openDrive(0);
    ASSERT_NE(d, nullptr);
    Command sneaky = encodeTestUnitReady();
    sneaky.cdb[0] = 0x2A; // WRITE(10) dressed as a no-data command
    sneaky.cdbLength = 10;
    EXPECT_FALSE(d->execute(sneaky, {}).ok);
    Command format = encodeTestUnitReady();
    format.cdb[0] = 0x04; // FORMAT UNIT
    EXPECT_FALSE(d->execute(format, {}).ok);
    EXPECT_TRUE(sg->sent.empty());
}

} // namespace

namespace {

TEST(SgFailureLog, FailedCallsAreAppendedWithTheirReason) {
    sgtest::FakeTree tree;
    auto roots = tree.roots();
    roots.failureLog = roots.dev.parent_path() / "failures.log";
    auto exec = quorlink::sg::makeSgExecutor(roots, std::make_shared<sgtest::ScriptedSg>());

    quorlink::CallRecord ok{"fnQuorbus_Read", 1, {}, 1, {}, ""};
    quorlink::CallRecord empty{"fnQuorbus_GetDiskHandle", 5, {}, 0, {}, "no drive"};
    quorlink::CallRecord refused{
        "fnQuorbus_Write", 1, {}, 0, {}, "refused: /dev/sdb1 is mounted on /mnt"};
    quorlink::CallRecord silent{"fnQuorbus_VendorR", 2, {}, 0, {}, ""};
    for (const auto* call : {&ok, &empty, &refused, &silent}) {
        exec->record(*call);
    }

    std::ifstream in(roots.failureLog);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], ::testing::EndsWith(
                              " fnQuorbus_Write drive 1: refused: /dev/sdb1 is mounted on /mnt"));
    EXPECT_THAT(lines[1], ::testing::EndsWith(" fnQuorbus_VendorR drive 2: failed"));
}

TEST(SgFailureLog, UnwritableLogDoesNotDisturbTheCall) {
    sgtest::FakeTree tree;
    auto roots = tree.roots();
    roots.failureLog = roots.dev / "no-such-dir" / "failures.log";
    auto exec = quorlink::sg::makeSgExecutor(roots, std::make_shared<sgtest::ScriptedSg>());
    quorlink::CallRecord refused{"fnQuorbus_Write", 1, {}, 0, {}, "refused"};
    EXPECT_NO_THROW(exec->record(refused));
    EXPECT_FALSE(std::filesystem::exists(roots.failureLog));
}

} // namespace
