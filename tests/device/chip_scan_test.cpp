#include "device/chip_scan.h"

#include "device_fixture.h"

namespace ufd::test {
namespace {

class ChipScanTest : public DeviceTest {
protected:
    ChipScanTest() { vendor[0x75] = Block({{130, 12}, {131, 0x29}}); }
};

using Seq = std::vector<std::pair<std::string, int64_t>>;

TEST_F(ChipScanTest, SmallBlockChipsScanEveryUnitPlainlyWithoutModeBlock) {
    vendor[0x93] = ChipList({0xE6, 0x73});
    ScanChips(ctx, 1);
    EXPECT_EQ(Slot().Status, 0);
    EXPECT_EQ(Slot().ChipCount, 2);
    EXPECT_EQ(Slot().ControllerCode, 0x29);
    EXPECT_EQ(ctx.ExtendedScan, kFalse);
    Seq expected = {{"VendorR", 0x75}, {"VendorR", 0x93}};
    for (int i = 0; i < 8; ++i) {
        expected.emplace_back("Vendor", 0x94);
    }
    EXPECT_EQ(VendorSequence(), expected);
    const auto units = transport.Calls("Vendor");
    EXPECT_EQ(units[5].args, (std::vector<int64_t>{kHandle, 0x94, 1, 1, 512}));
}

TEST_F(ChipScanTest, TwoLargeBlockChipsAskForTheModeBlockOnceAndScanExtended) {
    vendor[0x93] = ChipList({0xF1, 0xDA});
    vendor[0x9F] = Block({{0, 0xFF}, {1, 0xFF}});
    units[{0x94, 1, 7}] = UnitList(2);
    ScanChips(ctx, 1);
    EXPECT_EQ(ctx.ExtendedScan, kTrue);
    EXPECT_EQ(transport.Calls("VendorR").size(), 3u); // 0x75, 0x93, one 0x9F
    const auto scans = transport.Calls("VendorScan");
    ASSERT_EQ(scans.size(), 12u + 2u); // 4 + 8 units, two entries on chip 1 unit 7
    EXPECT_EQ(scans[0].args, (std::vector<int64_t>{kHandle, 0x94, 0, 0, 0xF1, 0, 0, 512}));
    EXPECT_EQ(scans[12].args, (std::vector<int64_t>{kHandle, 0x98, 1, 7, 0x11, 0, 0, 512}));
    EXPECT_EQ(Slot().Status, 0);
}

TEST_F(ChipScanTest, ModeBlockFFFEKeepsThePlainScan) {
    vendor[0x93] = ChipList({0xF1});
    vendor[0x9F] = Block({{0, 0xFF}, {1, 0xFE}});
    units[{0x94, 0, 0}] = UnitList(3);
    ScanChips(ctx, 1);
    EXPECT_EQ(ctx.ExtendedScan, kFalse);
    EXPECT_EQ(transport.Calls("Vendor").size(), 4u);
    EXPECT_TRUE(transport.Calls("VendorScan").empty());
}

TEST_F(ChipScanTest, EmptyChipListSendsNoUnitCommand) {
    vendor[0x93] = ChipList({});
    ScanChips(ctx, 1);
    EXPECT_EQ(Slot().ChipCount, 0);
    EXPECT_EQ(Slot().Status, 0);
    EXPECT_EQ(VendorSequence(), (Seq{{"VendorR", 0x75}, {"VendorR", 0x93}}));
}

struct InfoCase {
    uint8_t b130, b131;
};
class InformationCheckTest : public ChipScanTest, public ::testing::WithParamInterface<InfoCase> {};

TEST_P(InformationCheckTest, ForeignControllerEndsTheScanWithoutAFailure) {
    vendor[0x75] = Block({{130, GetParam().b130}, {131, GetParam().b131}});
    ScanChips(ctx, 1);
    EXPECT_EQ(Slot().Status, 0);
    EXPECT_EQ(Slot().ControllerCode, 0);
    EXPECT_EQ(transport.calls.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, InformationCheckTest,
                         ::testing::Values(InfoCase{14, 0x29}, InfoCase{10, 0x29},
                                           InfoCase{12, 0x26}));

struct FailCase {
    const char* name;
    std::string fn;
    int64_t code;
    int16_t status;
};
class ScanFailureTest : public ChipScanTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(ScanFailureTest, FailingCommandLeavesItsCodeAndEndsTheScan) {
    vendor[0x93] = ChipList({0xF1});
    vendor[0x9F] = Block({{0, 0xFF}, {1, 0xFF}});
    units[{0x94, 0, 0}] = UnitList(1);
    failing = {{GetParam().fn, GetParam().code}};
    ScanChips(ctx, 1);
    EXPECT_EQ(Slot().Status, GetParam().status);
    EXPECT_EQ(transport.calls.back().status, 0); // nothing after the failing command
}

INSTANTIATE_TEST_SUITE_P(Cases, ScanFailureTest,
                         ::testing::Values(FailCase{"Info", "VendorR", 0x75, 0x75},
                                           FailCase{"ChipList", "VendorR", 0x93, 0x93},
                                           FailCase{"ModeBlock", "VendorR", 0x9F, 0x9F},
                                           FailCase{"UnitList", "VendorScan", 0x94, 0x94},
                                           FailCase{"Entry", "VendorScan", 0x98, 0x98}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChipScanTest, ChipListWithoutTerminatorFailsWith93) {
    vendor[0x93] = std::vector<uint8_t>(512, 0x73);
    Slot().ChipCount = 3;
    ScanChips(ctx, 1);
    EXPECT_EQ(Slot().Status, 0x93);
    EXPECT_EQ(Slot().ChipCount, 3); // nothing of the bad list was taken
}

TEST_F(ChipScanTest, NoHandleIsFE) {
    Slot().Handle = 0;
    ScanChips(ctx, 1);
    EXPECT_EQ(Slot().Status, 0xFE);
    EXPECT_TRUE(transport.calls.empty());
}

TEST_F(ChipScanTest, SlotOutsideTheTableTouchesNothing) {
    ScanChips(ctx, 17);
    ScanChips(ctx, 0);
    EXPECT_TRUE(transport.calls.empty());
}

TEST(ChipTableTest, UnknownCodeKeepsWhatTheEntryHeld) {
    RecordingTransport t{ReplyFiles("/nonexistent/t", "/nonexistent/b")};
    StationContext ctx(t);
    ctx.ChipTable[1] = {0x00, 9, 99, 999};
    const std::vector<uint8_t> list = ChipList({0x76, 0x42});
    std::copy(list.begin(), list.end(), ctx.replies.ReplyBuffer.begin());
    ASSERT_TRUE(BuildChipTable(ctx, 1));
    EXPECT_EQ(ctx.slots.DiskSlots[0].ChipCount, 2);
    EXPECT_EQ(ctx.ChipTable[0].Units, 16);
    EXPECT_EQ(ctx.ChipTable[0].PagesPerBlock, 32);
    EXPECT_EQ(ctx.ChipTable[1].DeviceCode, 0x42);
    EXPECT_EQ(ctx.ChipTable[1].Units, 9);
    EXPECT_EQ(ctx.ChipTable[1].BlocksPerUnit, 99);
    EXPECT_EQ(ctx.ChipTable[2].DeviceCode, 0xAA); // the terminator is copied too
}

TEST(UnitListTest, EntriesEndAtThePairOrAfter510Bytes) {
    EXPECT_EQ(UnitListEntries(UnitList(0)).size(), 0u);
    EXPECT_EQ(UnitListEntries(UnitList(5)).size(), 5u);
    EXPECT_EQ(UnitListEntries(UnitList(509)).size(), 509u);
    EXPECT_EQ(UnitListEntries(std::vector<uint8_t>(512, 0x11)).size(), 510u);
    auto lone = UnitList(3);
    lone[5] = 0x00; // 0xAA without 0x55 is an entry
    EXPECT_EQ(UnitListEntries(lone).size(), 510u);
}

} // namespace
} // namespace ufd::test
