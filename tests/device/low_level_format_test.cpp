#include "device/low_level_format.h"

#include "device_fixture.h"

namespace ufd::test {
namespace {

class FakeProgress : public ProgressView {
public:
    std::optional<double> max = 100;
    std::vector<std::pair<int, int>> advances; // (row, step)
    std::optional<double> ProgressMax(int) override { return max; }
    void AdvanceProgress(int row, int step) override { advances.emplace_back(row, step); }
};

class FormatTest : public DeviceTest {
protected:
    FormatTest() {
        vendor[0x93] = ChipList({0x75}); // 8 units
        ctx.progress = &progress;
    }
    FakeProgress progress;
};

using Seq = std::vector<std::pair<std::string, int64_t>>;

TEST(UnitVerdictTest, LimitsOfTheFirstFourUnitsOfChipZero) {
    struct Row {
        int16_t unit, limit29, limitOther;
    };
    for (const Row r : {Row{0, 3, 1}, Row{1, 4, 3}, Row{2, 3, 2}, Row{3, 3, 3}}) {
        for (const auto& [cc, limit] : {std::pair<int16_t, int16_t>{0x29, r.limit29},
                                        {0x27, r.limitOther},
                                        {0x2A, r.limitOther}}) {
            EXPECT_EQ(UnitVerdict(0, r.unit, limit, cc), 1) << r.unit << " " << cc;
            EXPECT_EQ(UnitVerdict(0, r.unit, static_cast<int16_t>(limit + 1), cc), 0)
                << r.unit << " " << cc;
        }
    }
    EXPECT_EQ(UnitVerdict(1, 0, 500, 0x27), 1); // other chips always pass
    EXPECT_EQ(UnitVerdict(0, 4, 500, 0x27), 1); // units from 4 on always pass
}

TEST_F(FormatTest, Controller27GetsThePreSequenceAndTwoEntriesAreRejected) {
    Slot().ControllerCode = 0x27;
    units[{0x95, 0, 0}] = UnitList(2);
    EraseUnits(ctx, 1, 0x95);
    EXPECT_EQ(Slot().Status, 0x10);
    EXPECT_EQ(Slot().UnitEntries, 2);
    EXPECT_EQ(VendorSequence(), (Seq{{"VendorR", 0x93},
                                     {"Vendor", 0x95},
                                     {"VendorR", 0x96},
                                     {"VendorR", 0x93},
                                     {"Vendor", 0x95},
                                     {"VendorR", 0x96}}));
    EXPECT_EQ(transport.calls[3].fn, "TestUnitReady");
}

TEST_F(FormatTest, Controller29AcceptsTwoEntriesAndClosesTheFormat) {
    Slot().ControllerCode = 0x29;
    units[{0x95, 0, 0}] = UnitList(2);
    EraseUnits(ctx, 1, 0x95);
    EXPECT_EQ(Slot().Status, 0);
    Seq expected = {{"VendorR", 0x93}};
    for (int u = 0; u < 8; ++u) {
        expected.emplace_back("Vendor", 0x95);
    }
    expected.emplace_back("VendorW", 0x99);
    expected.emplace_back("VendorR", 0x96);
    EXPECT_EQ(VendorSequence(), expected);
    const auto boundary = transport.Calls("VendorW")[0].data;
    EXPECT_EQ(std::vector<uint8_t>(boundary.begin(), boundary.begin() + 5),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(transport.calls.back().fn, "TestUnitReady");
    // 100 / 8 units = 12 per unit, on the slot's row
    EXPECT_EQ(progress.advances, (std::vector<std::pair<int, int>>(8, {0, 12})));
}

TEST_F(FormatTest, WithoutControllerCodeNothingIsCountedAndEveryUnitPasses) {
    units[{0x95, 0, 0}] = UnitList(40);
    EraseUnits(ctx, 1, 0x95);
    EXPECT_EQ(Slot().Status, 0);
    EXPECT_EQ(Slot().UnitEntries, 0);
}

TEST_F(FormatTest, ExtendedScanSendsTheUnitCommandWithParameterF1) {
    ctx.ExtendedScan = kTrue;
    EraseUnits(ctx, 1, 0x95);
    const auto scans = transport.Calls("VendorScan");
    ASSERT_EQ(scans.size(), 8u);
    EXPECT_EQ(scans[7].args, (std::vector<int64_t>{kHandle, 0x95, 0, 7, 0xF1, 0, 0, 512}));
}

TEST_F(FormatTest, NoChipsStillClosesTheFormat) {
    vendor[0x93] = ChipList({});
    EraseUnits(ctx, 1, 0x95);
    EXPECT_EQ(VendorSequence(), (Seq{{"VendorR", 0x93}, {"VendorW", 0x99}, {"VendorR", 0x96}}));
    EXPECT_TRUE(progress.advances.empty());
}

TEST_F(FormatTest, BarShorterThanTheUnitsDoesNotMove) {
    progress.max = 7.4; // rounds to 7 < 8 units
    EraseUnits(ctx, 1, 0x95);
    EXPECT_EQ(progress.advances, (std::vector<std::pair<int, int>>(8, {0, 0})));
}

TEST_F(FormatTest, EraseFailures) {
    struct Case {
        std::string fn;
        int64_t code;
        int16_t status;
    };
    for (const Case& c :
         {Case{"VendorR", 0x93, 0x93}, Case{"Vendor", 0x95, 0x95}, Case{"VendorR", 0x96, 0x96}}) {
        Slot().Status = 0;
        transport.calls.clear();
        failing = {{c.fn, c.code}};
        EraseUnits(ctx, 1, 0x95);
        EXPECT_EQ(Slot().Status, c.status) << c.fn << " " << c.code;
    }
    Slot().Handle = 0;
    Slot().Status = 0;
    EraseUnits(ctx, 1, 0x95);
    EXPECT_EQ(Slot().Status, 0xFE);
}

TEST_F(FormatTest, HalfwayShareRoundsToEven) {
    ctx.Product.FirstShare = 0.5;
    capacityText = "1002"; // LastSector 1001 -> 500 + 501
    FinishFormat(ctx, 1);
    EXPECT_EQ(Slot().LastSector, 1001);
    const auto mbr = transport.Calls("Write").at(0);
    ASSERT_EQ(mbr.args[2], 0);
    auto le32 = [&](size_t at) {
        return mbr.data[at] | (mbr.data[at + 1] << 8) | (mbr.data[at + 2] << 16) |
               (mbr.data[at + 3] << 24);
    };
    EXPECT_EQ(le32(446 + 12), 500 - 33); // first area's count
    EXPECT_EQ(le32(462 + 8), 500 - 1);   // second area starts at F - 1
    EXPECT_EQ(le32(462 + 12), 501 - 1);
    EXPECT_TRUE(ctx.replies.CapacityText.isEmpty());
}

TEST_F(FormatTest, CapacityOfOneSectorIs9AButTheStepsGoOn) {
    capacityText = "1";
    FinishFormat(ctx, 1);
    EXPECT_EQ(Slot().LastSector, 0);
    EXPECT_EQ(VendorSequence().front(), (std::pair<std::string, int64_t>{"VendorW", 0x9B}));
    const auto finish = transport.Calls("VendorW")[0].data;
    EXPECT_EQ(finish[0], 1);
    EXPECT_FALSE(transport.Calls("Write").empty()); // the volume was still attempted
}

TEST_F(FormatTest, FinishFailuresAndTheirOrder) {
    failing = {{"ReadCapacity", -1}};
    Slot().LastSector = 5;
    FinishFormat(ctx, 1);
    EXPECT_EQ(Slot().LastSector, 5);                  // kept from before
    EXPECT_EQ(Slot().Status, 0x9A);                   // recorded, and nothing later replaced it
    EXPECT_FALSE(transport.Calls("VendorW").empty()); // the format went on

    Slot().Status = 0;
    failing = {{"VendorW", 0x9B}};
    FinishFormat(ctx, 1);
    EXPECT_EQ(Slot().Status, 0x9B); // volume and 0x96 passed, the code stays

    Slot().Status = 0;
    failing = {{"VendorR", 0x96}};
    FinishFormat(ctx, 1);
    EXPECT_EQ(Slot().Status, 0x96);

    Slot().Status = 0;
    failing = {{"Write", -1}};
    FinishFormat(ctx, 1);
    EXPECT_EQ(Slot().Status, 240);
}

TEST_F(FormatTest, LowLevelFormatStopsAfterAFailedErase) {
    failing = {{"VendorR", 0x93}};
    EXPECT_EQ(LowLevelFormat(ctx, 1), 1);
    EXPECT_TRUE(transport.Calls("ReadCapacity").empty());
    failing.clear();
    Slot().Status = 0;
    EXPECT_EQ(LowLevelFormat(ctx, 1), 0);
    EXPECT_EQ(Slot().LastSector, 1000000);
}

TEST(LeadingNumberTest, NumberAtTheStartOfTheText) {
    EXPECT_EQ(LeadingNumber("4096000"), 4096000);
    EXPECT_EQ(LeadingNumber("  12 sectors"), 12);
    EXPECT_EQ(LeadingNumber("-3.5x"), -3.5);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber(""), 0);
}

} // namespace
} // namespace ufd::test
