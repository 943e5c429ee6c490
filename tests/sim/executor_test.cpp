// The simulated drives as the C API layer sees them: commands in, outcomes
// and reply bytes out.
#include "sim_fixture.h"

#include <fstream>

using quorlink::Direction;
using quorlink::ReplyShape;
using quorlink::VendorForm;
using namespace simtest;

namespace {

class ExecutorTest : public SimTest {};

TEST_F(ExecutorTest, OpenGivesDevicesOnlyForPluggedDrives) {
    std::vector<nlohmann::json> drives;
    drives.push_back({{"index", 0}, {"kind", "disk"}, {"line", "IDE\\DiskPC\\1"}});
    drives.push_back(usbDrive(1));
    auto unplugged = usbDrive(2);
    unplugged["plugged"] = false;
    drives.push_back(unplugged);
    drives.push_back({{"index", 3}, {"kind", "empty"}});
    auto ex = executor(drives);

    auto disk = ex->open(0);
    ASSERT_NE(disk.device, nullptr);
    EXPECT_EQ(disk.deviceLine, "IDE\\DiskPC\\1");

    auto usb = ex->open(1);
    ASSERT_NE(usb.device, nullptr);
    EXPECT_EQ(usb.deviceLine, "USBSTOR\\Disk&Ven_Acme&Prod_Stick&Rev_1.00\\S1");

    for (int index : {2, 3, 4, 16, -1, 17}) {
        EXPECT_EQ(ex->open(index).device, nullptr) << "index " << index;
    }
}

TEST_F(ExecutorTest, BrokenRackFindsNoDriveInsteadOfCrashing) {
    rackFile_ = dir() / "broken.json";
    std::ofstream(rackFile_) << "{\"drives\": [ {\"index\": 1, ";
    auto ex = quorlink::makeSimulatorExecutor(rackFile_.string());
    EXPECT_EQ(ex->open(1).device, nullptr);
    auto missing = quorlink::makeSimulatorExecutor((dir() / "nowhere.json").string());
    EXPECT_EQ(missing->open(0).device, nullptr);
}

TEST_F(ExecutorTest, StandardCommandsAnswerFromTheProfile) {
    auto d = usbDrive(1);
    d["capacity"] = 4096000;
    auto ex = executor({d});
    auto dev = ex->open(1).device;
    ASSERT_NE(dev, nullptr);

    EXPECT_TRUE(run(*dev, quorlink::encodeTestUnitReady()).outcome.ok);

    const auto c10 = run(*dev, quorlink::encodeReadCapacity10());
    ASSERT_TRUE(c10.outcome.ok);
    // Last sector 4095999 = 0x003E7FFF, block size 512, both big-endian.
    EXPECT_EQ(std::vector<uint8_t>(c10.data.begin(), c10.data.begin() + 8),
              (std::vector<uint8_t>{0x00, 0x3E, 0x7F, 0xFF, 0x00, 0x00, 0x02, 0x00}));

    const auto c16 = run(*dev, quorlink::encodeReadCapacity16());
    ASSERT_TRUE(c16.outcome.ok);
    EXPECT_EQ(std::vector<uint8_t>(c16.data.begin(), c16.data.begin() + 12),
              (std::vector<uint8_t>{0, 0, 0, 0, 0x00, 0x3E, 0x7F, 0xFF, 0, 0, 0x02, 0}));

    const auto inq = run(*dev, quorlink::encodeInquiry());
    ASSERT_TRUE(inq.outcome.ok);
    EXPECT_EQ(std::string(inq.data.begin() + 8, inq.data.begin() + 16), "Acme    ");
    EXPECT_EQ(std::string(inq.data.begin() + 16, inq.data.begin() + 32), "Stick           ");
}

TEST_F(ExecutorTest, ModeSenseCarriesTheWriteProtectSwitch) {
    auto on = usbDrive(1);
    on["write_protect"] = true;
    auto ex = executor({on, usbDrive(2)});
    for (const auto& [index, expected] : {std::pair{1, uint8_t{0x80}}, std::pair{2, uint8_t{0}}}) {
        auto dev = ex->open(index).device;
        ASSERT_NE(dev, nullptr);
        const auto r = run(*dev, quorlink::encodeModeSense());
        ASSERT_TRUE(r.outcome.ok);
        EXPECT_EQ(r.data[2], expected) << "drive " << index;
        EXPECT_EQ(r.data[0], 3);
        EXPECT_EQ(r.data[3], 0); // no block descriptor
    }
}

TEST_F(ExecutorTest, InformationChipAndModeBlocksByteForByte) {
    auto d = usbDrive(1);
    d["info"] = {13, "0x27"};
    d["chips"] = {"0x73", "0x75", "0xDA"};
    d["mode"] = {"0xFF", "0xFE"};
    auto ex = executor({d});
    auto dev = ex->open(1).device;
    ASSERT_NE(dev, nullptr);

    std::vector<uint8_t> info(512, 0);
    info[130] = 13;
    info[131] = 0x27;
    EXPECT_EQ(run(*dev, vendorCmd(VendorForm::Read, 0x75)).data, info);

    std::vector<uint8_t> chips(512, 0);
    chips[0] = 0x73;
    chips[1] = 0x75;
    chips[2] = 0xDA;
    chips[3] = 0xAA;
    EXPECT_EQ(run(*dev, vendorCmd(VendorForm::Read, 0x93)).data, chips);

    std::vector<uint8_t> mode(512, 0);
    mode[0] = 0xFF;
    mode[1] = 0xFE;
    EXPECT_EQ(run(*dev, vendorCmd(VendorForm::Read, 0x9F)).data, mode);
}

TEST_F(ExecutorTest, EmptyChipListIsJustTheTerminator) {
    auto d = usbDrive(1);
    d["chips"] = nlohmann::json::array();
    auto ex = executor({d});
    auto dev = ex->open(1).device;
    const auto r = run(*dev, vendorCmd(VendorForm::Read, 0x93));
    ASSERT_TRUE(r.outcome.ok);
    EXPECT_EQ(r.data[0], 0xAA);
}

// Entries counted the way the station counts them: bytes from 1 on up to the
// pair 0xAA 0x55 with its first byte at 1..510.
int countEntries(const std::vector<uint8_t>& reply) {
    for (size_t i = 1; i <= 510; ++i) {
        if (reply[i] == 0xAA && reply[i + 1] == 0x55) {
            return static_cast<int>(i - 1);
        }
    }
    return 510;
}

TEST_F(ExecutorTest, UnitListsFollowTheProfilesCounts) {
    auto d = usbDrive(1);
    d["units94"] = {{"default", 2}, {"1:3", 7}};
    d["units95"] = {{"default", 1}, {"0:0", 0}, {"0:2", 509}, {"1:0", 510}, {"1:1", 600}};
    auto ex = executor({d});
    auto dev = ex->open(1).device;
    ASSERT_NE(dev, nullptr);

    struct Case {
        VendorForm form;
        int code, chip, unit, expected;
    };
    const Case cases[] = {
        {VendorForm::ChipUnit, 0x94, 0, 0, 2},   {VendorForm::Scan, 0x94, 0, 1, 2},
        {VendorForm::Scan, 0x94, 1, 3, 7},       {VendorForm::ChipUnit, 0x95, 0, 0, 0},
        {VendorForm::ChipUnit, 0x95, 0, 1, 1},   {VendorForm::Scan, 0x95, 0, 2, 509},
        {VendorForm::ChipUnit, 0x95, 1, 0, 510}, {VendorForm::ChipUnit, 0x95, 1, 1, 510},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << c.code << " chip " << c.chip << " unit " << c.unit);
        const auto r = run(*dev, vendorCmd(c.form, c.code, c.chip, c.unit, 0xF1));
        ASSERT_TRUE(r.outcome.ok);
        EXPECT_EQ(countEntries(r.data), c.expected);
        EXPECT_EQ(r.data[0], 0);
        for (int e = 0; e < std::min(c.expected, 510); ++e) {
            EXPECT_NE(r.data[static_cast<size_t>(e + 1)], 0xAA) << "entry " << e;
        }
        if (c.expected < 510) {
            EXPECT_EQ(r.data[static_cast<size_t>(c.expected + 1)], 0xAA);
            EXPECT_EQ(r.data[static_cast<size_t>(c.expected + 2)], 0x55);
        }
    }
    // A chip the drive does not have answers with a failure.
    EXPECT_FALSE(run(*dev, vendorCmd(VendorForm::ChipUnit, 0x95, 2, 0)).outcome.ok);
}

TEST_F(ExecutorTest, AcknowledgedCodesAndUnknownCodes) {
    auto ex = executor({usbDrive(1)});
    auto dev = ex->open(1).device;
    std::array<uint8_t, 512> block{};
    EXPECT_TRUE(run(*dev, vendorCmd(VendorForm::Read, 0x96)).outcome.ok);
    EXPECT_TRUE(run(*dev, vendorCmd(VendorForm::Scan, 0x98, 0, 0, 0x33)).outcome.ok);
    EXPECT_TRUE(run(*dev, vendorCmd(VendorForm::Write, 0x9B, 0, 0, 0, block)).outcome.ok);
    for (int code : {0x00, 0x74, 0x97, 0x9A, 0xFF}) {
        EXPECT_FALSE(run(*dev, vendorCmd(VendorForm::Read, code)).outcome.ok) << code;
    }
}

TEST_F(ExecutorTest, VendorCommandsOnThePcDiskFail) {
    auto ex = executor({{{"index", 0}, {"kind", "disk"}}});
    auto dev = ex->open(0).device;
    ASSERT_NE(dev, nullptr);
    EXPECT_FALSE(run(*dev, vendorCmd(VendorForm::Read, 0x75)).outcome.ok);
    std::vector<uint8_t> data(512, 1);
    EXPECT_FALSE(run(*dev, *quorlink::encodeWrite(0, 1, data)).outcome.ok);
}

TEST_F(ExecutorTest, BoundaryIsKeptLittleEndian) {
    auto ex = executor({usbDrive(1)});
    auto dev = ex->open(1).device;
    std::array<uint8_t, 512> block{};
    block[0] = 0x78;
    block[1] = 0x56;
    block[2] = 0x34;
    block[3] = 0x12;
    ASSERT_TRUE(run(*dev, vendorCmd(VendorForm::Write, 0x99, 0, 0, 0, block)).outcome.ok);
    quorlink::sim::RackState state(quorlink::sim::loadRack(rackFile_));
    ASSERT_TRUE(state.boundary(1).has_value());
    EXPECT_EQ(*state.boundary(1), 0x12345678u);
    EXPECT_FALSE(state.boundary(2).has_value());
}

TEST_F(ExecutorTest, ConfigBlockOutlivesTheExecutor) {
    std::array<uint8_t, 512> block{};
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    {
        auto ex = executor({usbDrive(1), usbDrive(2)});
        auto dev = ex->open(1).device;
        const auto before = run(*dev, vendorCmd(VendorForm::Read, 0x82));
        ASSERT_TRUE(before.outcome.ok);
        EXPECT_EQ(before.data, std::vector<uint8_t>(512, 0));
        ASSERT_TRUE(run(*dev, vendorCmd(VendorForm::Write, 0x81, 0, 0, 0, block)).outcome.ok);
    }
    // A new executor is what a new station process gets.
    auto again = quorlink::makeSimulatorExecutor(rackFile_.string());
    const auto after = run(*again->open(1).device, vendorCmd(VendorForm::Read, 0x82));
    ASSERT_TRUE(after.outcome.ok);
    EXPECT_EQ(after.data, std::vector<uint8_t>(block.begin(), block.end()));
    const auto other = run(*again->open(2).device, vendorCmd(VendorForm::Read, 0x82));
    EXPECT_EQ(other.data, std::vector<uint8_t>(512, 0));
}

TEST_F(ExecutorTest, SectorsOutliveTheExecutorAndCountLedActivity) {
    std::vector<uint8_t> data(3 * 512);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i ^ (i >> 8));
    }
    {
        auto ex = executor({usbDrive(1)});
        auto dev = ex->open(1).device;
        ASSERT_TRUE(run(*dev, *quorlink::encodeWrite(100, 3, data)).outcome.ok);
        const auto fresh = run(*dev, *quorlink::encodeRead(0, 1));
        ASSERT_TRUE(fresh.outcome.ok);
        EXPECT_EQ(fresh.data, std::vector<uint8_t>(512, 0));
    }
    auto again = quorlink::makeSimulatorExecutor(rackFile_.string());
    auto dev = again->open(1).device;
    const auto back = run(*dev, *quorlink::encodeRead(100, 3));
    ASSERT_TRUE(back.outcome.ok);
    EXPECT_EQ(back.data, data);

    quorlink::sim::RackState state(quorlink::sim::loadRack(rackFile_));
    EXPECT_EQ(state.ledCount(1), 2u);
    const auto image = state.imagePath(1);
    EXPECT_EQ(std::filesystem::file_size(image), 2048u * 512u);
}

TEST_F(ExecutorTest, TransfersOutsideTheDriveAreRefused) {
    auto ex = executor({usbDrive(1)}); // 2048 sectors
    auto dev = ex->open(1).device;
    std::vector<uint8_t> data(2 * 512, 0x5A);
    EXPECT_TRUE(run(*dev, *quorlink::encodeWrite(2046, 2, data)).outcome.ok);
    EXPECT_FALSE(run(*dev, *quorlink::encodeWrite(2047, 2, data)).outcome.ok);
    EXPECT_FALSE(run(*dev, *quorlink::encodeRead(2048, 1)).outcome.ok);
    EXPECT_FALSE(run(*dev, *quorlink::encodeRead(1ULL << 40, 1)).outcome.ok);
}

TEST_F(ExecutorTest, WriteProtectRefusesWritesButNotReads) {
    auto d = usbDrive(1);
    d["write_protect"] = true;
    auto ex = executor({d});
    auto dev = ex->open(1).device;
    std::vector<uint8_t> data(512, 0x77);
    const auto w = run(*dev, *quorlink::encodeWrite(5, 1, data));
    EXPECT_FALSE(w.outcome.ok);
    EXPECT_EQ(w.outcome.reason, "write protected");
    EXPECT_EQ(run(*dev, *quorlink::encodeRead(5, 1)).data, std::vector<uint8_t>(512, 0));

    // Flipping the switch from another process is seen at the next command.
    quorlink::sim::RackState(quorlink::sim::loadRack(rackFile_)).setWriteProtect(1, false);
    EXPECT_TRUE(run(*dev, *quorlink::encodeWrite(5, 1, data)).outcome.ok);
    EXPECT_EQ(run(*dev, *quorlink::encodeRead(5, 1)).data, data);
}

TEST_F(ExecutorTest, DrivePulledMidRunFailsEveryCommand) {
    auto ex = executor({usbDrive(1)});
    auto dev = ex->open(1).device;
    ASSERT_TRUE(run(*dev, quorlink::encodeTestUnitReady()).outcome.ok);
    quorlink::sim::RackState rack(quorlink::sim::loadRack(rackFile_));
    rack.setPlugged(1, false);
    std::vector<uint8_t> data(512, 1);
    for (const auto& cmd :
         {quorlink::encodeTestUnitReady(), quorlink::encodeReadCapacity10(),
          quorlink::encodeModeSense(), *quorlink::encodeRead(0, 1),
          *quorlink::encodeWrite(0, 1, data), vendorCmd(VendorForm::Read, 0x75)}) {
        const auto r = run(*dev, cmd);
        EXPECT_FALSE(r.outcome.ok) << "opcode " << int(cmd.cdb[0]);
        EXPECT_EQ(r.outcome.reason, "drive unplugged");
    }
    EXPECT_EQ(ex->open(1).device, nullptr);
    rack.setPlugged(1, true);
    EXPECT_NE(ex->open(1).device, nullptr);
}

TEST_F(ExecutorTest, StateDirectoryFromTheEnvironment) {
    const auto elsewhere = dir() / "elsewhere";
    ::setenv("QUORLINK_STATE_DIR", elsewhere.c_str(), 1);
    std::array<uint8_t, 512> block{};
    block[0] = 0x99;
    auto ex = executor({usbDrive(1)});
    ASSERT_TRUE(
        run(*ex->open(1).device, vendorCmd(VendorForm::Write, 0x81, 0, 0, 0, block)).outcome.ok);
    ::unsetenv("QUORLINK_STATE_DIR");
    EXPECT_TRUE(std::filesystem::exists(elsewhere / "drive-1" / "config.bin"));
    EXPECT_FALSE(std::filesystem::exists(stateDir()));
}

} // namespace
