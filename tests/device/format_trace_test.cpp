// A whole Format (chip scan, low-level format, volume) of simulated drives,
// compared with the library's trace call by call.
#include "support/sim_station.h"

namespace ufd::test {
namespace {

using Lines = std::vector<std::string>;

Lines Cat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

// clang-format off
const Lines kPreSequence = {"VendorR 0x93 0 512", "Vendor 0x95 0 0 512", "VendorR 0x96 0 512",
                            "TestUnitReady"};
const Lines kExtendedScan = {"VendorR 0x75 0 512", "VendorR 0x93 0 512", "VendorR 0x9F 0 512",
    "VendorScan 0x94 0 0 241 0 0 512", "VendorScan 0x98 0 0 16 0 0 512",
    "VendorScan 0x94 0 1 241 0 0 512", "VendorScan 0x98 0 1 16 0 0 512",
    "VendorScan 0x94 0 2 241 0 0 512", "VendorScan 0x98 0 2 16 0 0 512",
    "VendorScan 0x94 0 3 241 0 0 512", "VendorScan 0x98 0 3 16 0 0 512"};
const Lines kExtendedErase = {"VendorR 0x93 0 512",
    "VendorScan 0x95 0 0 241 0 0 512", "VendorScan 0x95 0 1 241 0 0 512",
    "VendorScan 0x95 0 2 241 0 0 512", "VendorScan 0x95 0 3 241 0 0 512"};
const Lines kPlainScan = {"VendorR 0x75 0 512", "VendorR 0x93 0 512", "Vendor 0x94 0 0 512",
                          "Vendor 0x94 0 1 512", "Vendor 0x94 0 2 512", "Vendor 0x94 0 3 512"};
const Lines kPlainErase = {"VendorR 0x93 0 512", "Vendor 0x95 0 0 512", "Vendor 0x95 0 1 512",
                           "Vendor 0x95 0 2 512", "Vendor 0x95 0 3 512"};
const Lines kCloseFormat = {"VendorW 0x99 512", "VendorR 0x96 0 512", "TestUnitReady",
                            "ReadCapacity", "VendorW 0x9B 512"};
// One FAT12 area of 20,000 sectors, then the boundary 0 and the closing read.
const Lines kFat12Volume = {"Write 1 0", "Write 1 32", "Write 12 33", "Write 12 45", "Write 32 57",
                            "VendorW 0x99 512", "VendorR 0x96 0 512"};
// clang-format on

struct TraceCase {
    const char* name;
    nlohmann::json drive; // changes to a healthy drive of 20,001 sectors
    double firstShare;
    double progressMax;
    Lines trace;
    std::vector<int> steps;
};

const nlohmann::json kPlain = {{"chips", {0xE6}}, {"mode", {0, 0}}};
const nlohmann::json kPlain27 = {{"chips", {0xE6}}, {"mode", {0, 0}}, {"info", {12, 0x27}}};
const std::vector<int> kFourSteps = {25, 25, 25, 25}; // a bar of 100 over 4 units

TEST(FormatTrace, CommandsInOrder) {
    // clang-format off
    const TraceCase cases[] = {
        {"Extended29", {}, 1.0, 100,
                  Cat({kExtendedScan, kExtendedErase, kCloseFormat, kFat12Volume}), kFourSteps},
        {"Plain29", kPlain, 1.0, 100,
                  Cat({kPlainScan, kPlainErase, kCloseFormat, kFat12Volume}), kFourSteps},
        {"Extended27", {{"info", {12, 0x27}}}, 1.0, 100,
                  Cat({kExtendedScan, kPreSequence, kExtendedErase, kCloseFormat, kFat12Volume}),
                  kFourSteps},
        {"Plain27", kPlain27, 1.0, 100,
                  Cat({kPlainScan, kPreSequence, kPlainErase, kCloseFormat, kFat12Volume}), kFourSteps},
        // 0xFF 0xFE is no extended scan: one 0x9F, then the plain unit commands.
        {"ModeBlockFFFE", {{"mode", {0xFF, 0xFE}}, {"units94", {{"default", 3}}}}, 1.0, 100,
                  Cat({{"VendorR 0x75 0 512", "VendorR 0x93 0 512", "VendorR 0x9F 0 512"},
                       Lines(kPlainScan.begin() + 2, kPlainScan.end()), kPlainErase, kCloseFormat,
                       kFat12Volume}), kFourSteps},
        // Information byte 130 = 14: the scan ends after 0x75 with no failure, and
        // the low-level format counts no entries (the 0x95 lists would reject).
        // A bar of 3.4 rounds to 3, below the 4 units: step 0.
        {"ForeignController", {{"info", {14, 0x29}}, {"units95", {{"default", 9}}}}, 1.0,
                  3.4, Cat({{"VendorR 0x75 0 512"}, kPlainErase, kCloseFormat, kFat12Volume}),
                  {0, 0, 0, 0}},
        {"TwoLargeBlockChipsOneModeBlock", {{"chips", {0xF1, 0xF1}}}, 1.0, 100,
                  Cat({kExtendedScan,
                       {"VendorScan 0x94 1 0 241 0 0 512", "VendorScan 0x98 1 0 16 0 0 512",
                        "VendorScan 0x94 1 1 241 0 0 512", "VendorScan 0x98 1 1 16 0 0 512",
                        "VendorScan 0x94 1 2 241 0 0 512", "VendorScan 0x98 1 2 16 0 0 512",
                        "VendorScan 0x94 1 3 241 0 0 512", "VendorScan 0x98 1 3 16 0 0 512"},
                       kExtendedErase,
                       {"VendorScan 0x95 1 0 241 0 0 512", "VendorScan 0x95 1 1 241 0 0 512",
                        "VendorScan 0x95 1 2 241 0 0 512", "VendorScan 0x95 1 3 241 0 0 512"},
                       kCloseFormat, kFat12Volume}), std::vector<int>(8, 12)},
        {"EmptyChipList", {{"chips", nlohmann::json::array()}}, 1.0, 100,
                  Cat({{"VendorR 0x75 0 512", "VendorR 0x93 0 512", "VendorR 0x93 0 512"},
                       kCloseFormat, kFat12Volume}), {}},
        // Capacity 1,002: 1,001 x 0.5 = 500.5 rounds to 500, so the second area's
        // table sits at 499 and its file system 32 sectors later.
        {"TwoAreasHalfwayRoundsToEven", {{"chips", {0xE6}}, {"capacity", 1002}}, 0.5, 100,
                  Cat({kPlainScan, kPlainErase, kCloseFormat,
                       {"Write 1 0", "Write 1 32", "Write 12 33", "Write 12 45", "Write 32 57",
                        "Write 1 499", "Write 1 531", "Write 12 532", "Write 12 544", "Write 32 556",
                        "VendorW 0x99 512", "VendorR 0x96 0 512"}}), kFourSteps}};
    // clang-format on
    for (const TraceCase& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json drive = SimDriveEntry(20001);
        if (c.drive.is_object()) {
            drive.update(c.drive);
        }
        SimDrive sim(drive);
        ProductConfig product = SampleProduct();
        product.FirstShare = c.firstShare;
        const SimOutcome o = sim.Run(Item::Format, product, c.progressMax);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(sim.Trace(o.handle), c.trace);
        EXPECT_EQ(o.steps, c.steps);
    }
}

TEST(UnitVerdict, LimitsOfTheFirstFourUnitsOfChipZero) {
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

} // namespace
} // namespace ufd::test
