// The simulated drives as the C API layer sees them: commands in, outcomes
// and reply bytes out.
#include "sim_fixture.h"

#include <fstream>

using quorlink::VendorForm;
using namespace simtest;
namespace q = quorlink;

namespace {

class ExecutorTest : public SimTest {};

TEST_F(ExecutorTest, OpenGivesDevicesOnlyForPluggedDrives) {
    auto unplugged = usbDrive(2);
    unplugged["plugged"] = false;
    auto ex = executor({{{"index", 0}, {"kind", "disk"}, {"line", "IDE\\DiskPC\\1"}},
                        usbDrive(1),
                        unplugged,
                        {{"index", 3}, {"kind", "empty"}}});
    EXPECT_EQ(ex->open(0).deviceLine, "IDE\\DiskPC\\1");
    EXPECT_EQ(ex->open(1).deviceLine, "USBSTOR\\Disk&Ven_Acme&Prod_Stick&Rev_1.00\\S1");
    for (int index : {2, 3, 4}) {
        EXPECT_EQ(ex->open(index).device, nullptr) << "index " << index;
    }
    // A broken or missing rack finds no drive instead of crashing.
    std::ofstream(dir_ / "broken.json") << "{\"drives\": [ {\"index\": 1, ";
    EXPECT_EQ(q::makeSimulatorExecutor((dir_ / "broken.json").string())->open(1).device, nullptr);
    EXPECT_EQ(q::makeSimulatorExecutor((dir_ / "nowhere.json").string())->open(0).device, nullptr);
}

TEST_F(ExecutorTest, BlockBoundaryAndSectorsOutliveTheProcess) {
    std::array<uint8_t, 512> block{};
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    Bytes data(3 * 512);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i ^ (i >> 8));
    }
    {
        auto ex = executor({usbDrive(1), usbDrive(2)});
        auto dev = ex->open(1).device;
        EXPECT_EQ(run(*dev, vendorCmd(VendorForm::Read, 0x82)).data, Bytes(512, 0));
        ASSERT_TRUE(run(*dev, vendorCmd(VendorForm::Write, 0x81, 0, 0, 0, block)).outcome.ok);
        const std::array<uint8_t, 512> boundary = {0x78, 0x56, 0x34, 0x12};
        ASSERT_TRUE(run(*dev, vendorCmd(VendorForm::Write, 0x99, 0, 0, 0, boundary)).outcome.ok);
        ASSERT_TRUE(run(*dev, *q::encodeWrite(100, 3, data)).outcome.ok);
        EXPECT_EQ(run(*dev, *q::encodeRead(0, 1)).data, Bytes(512, 0));
    }
    // A new executor is what a new station process gets.
    auto again = q::makeSimulatorExecutor(rackFile_.string());
    auto dev = again->open(1).device;
    EXPECT_EQ(run(*dev, vendorCmd(VendorForm::Read, 0x82)).data, Bytes(block.begin(), block.end()));
    EXPECT_EQ(run(*again->open(2).device, vendorCmd(VendorForm::Read, 0x82)).data, Bytes(512, 0));
    EXPECT_EQ(run(*dev, *q::encodeRead(100, 3)).data, data);
    quorlink::sim::RackState state(quorlink::sim::loadRack(rackFile_));
    EXPECT_EQ(state.boundary(1), 0x12345678u);
    EXPECT_FALSE(state.boundary(2).has_value());
    EXPECT_EQ(state.ledCount(1), 2u);
    EXPECT_EQ(std::filesystem::file_size(state.imagePath(1)), 2048u * 512u);
}

TEST_F(ExecutorTest, TransfersOutsideTheDriveOrWhileProtectedAreRefused) {
    auto d = usbDrive(1); // 2048 sectors
    d["write_protect"] = true;
    auto ex = executor({d});
    auto dev = ex->open(1).device;
    Bytes data(2 * 512, 0x5A);
    EXPECT_EQ(run(*dev, *q::encodeWrite(5, 1, data)).outcome.reason, "write protected");
    EXPECT_EQ(run(*dev, *q::encodeRead(5, 1)).data, Bytes(512, 0));
    // Flipping the switch from another process is seen at the next command.
    quorlink::sim::RackState(quorlink::sim::loadRack(rackFile_)).setWriteProtect(1, false);
    EXPECT_TRUE(run(*dev, *q::encodeWrite(2046, 2, data)).outcome.ok);
    EXPECT_FALSE(run(*dev, *q::encodeWrite(2047, 2, data)).outcome.ok);
    EXPECT_FALSE(run(*dev, *q::encodeRead(2048, 1)).outcome.ok);
    EXPECT_FALSE(run(*dev, *q::encodeRead(1ULL << 40, 1)).outcome.ok);
}

} // namespace
