// The device procedures on simulated drives behind the real libquorlink: the
// failure code every fault leaves in a slot's Status, a whole Format's
// commands in order, and the configuration block as the drive stores it.
#include "format/format_bench.h"
#include "support/sim_station.h"

namespace ufd::test {
namespace {

using P = ProductConfig&;
nlohmann::json Faults(const nlohmann::json& fault) {
    return {{"faults", {fault}}};
}
// The nth call (0: every one) of a vendor operation with that code.
nlohmann::json Vendor(const char* op, int code, int nth = 0, const char* effect = "fail") {
    return Faults({{"op", op}, {"code", code}, {"nth", nth}, {"effect", effect}});
}
nlohmann::json WriteAt(int64_t sector, int64_t capacity = 20001) {
    return {{"faults", {{{"op", "write"}, {"sector", sector}}}}, {"capacity", capacity}};
}
nlohmann::json With(nlohmann::json a, const nlohmann::json& b) {
    a.update(b);
    return a;
}
void TwoAreas(P p) {
    p.FirstShare = p.SecondShare = 0.5;
}

// An item on a healthy drive of 20,001 sectors with changes.
struct ItemRun {
    SimDrive sim;
    ProductConfig product = SampleProduct();
    SimOutcome o;
    std::vector<std::string> trace;
    ItemRun(Item item, const nlohmann::json& drive, void (*change)(P) = nullptr,
            LargeFileSystem largeFs = LargeFileSystem::Auto, double progressMax = 100)
        : sim(With(SimDriveEntry(20001), drive)) {
        if (change != nullptr) {
            change(product);
        }
        sim.largeFs = largeFs;
        o = sim.Run(item, product, progressMax);
        trace = sim.Trace(o.handle);
    }
};

// A command for units 0 to 3 of a chip, %d standing for the unit.
std::string Units(const char* command) {
    std::string out;
    for (int u = 0; u < 4; ++u) {
        char line[128];
        std::snprintf(line, sizeof line, command, u, u);
        out += line;
    }
    return out;
}

const std::string kStart = "VendorR 0x75 0 512\nVendorR 0x93 0 512\n";
const std::string kExtendedScan = kStart + "VendorR 0x9F 0 512\n" +
                                  Units("VendorScan 0x94 0 %d 241 0 0 512\n"
                                        "VendorScan 0x98 0 %d 16 0 0 512\n");
const std::string kExtendedErase =
    "VendorR 0x93 0 512\n" + Units("VendorScan 0x95 0 %d 241 0 0 512\n");
const std::string kPlainUnits = Units("Vendor 0x94 0 %d 512\n");
const std::string kPlainErase = "VendorR 0x93 0 512\n" + Units("Vendor 0x95 0 %d 512\n");
const std::string kPreSequence =
    "VendorR 0x93 0 512\nVendor 0x95 0 0 512\nVendorR 0x96 0 512\nTestUnitReady\n";
// The close of the low-level format, then one FAT12 area of 20,000 sectors,
// the boundary 0 and the closing read.
const std::string kClose =
    "VendorW 0x99 512\nVendorR 0x96 0 512\nTestUnitReady\nReadCapacity\nVendorW 0x9B 512\n";
const std::string kVolume = "Write 1 0\nWrite 1 32\nWrite 12 33\nWrite 12 45\nWrite 32 57\n";
const std::string kEnd = "VendorW 0x99 512\nVendorR 0x96 0 512\n", kTail = kClose + kVolume + kEnd;
const nlohmann::json kPlain = {{"chips", {0xE6}}, {"mode", {0, 0}}};
const std::vector<int> kFourSteps = {25, 25, 25, 25}; // a bar of 100 over 4 units

struct CodeCase {
    const char* name;
    Item item;
    nlohmann::json drive;
    void (*product)(P);
    int16_t status, result;
    long writes; // fnQuorbus_Write calls, the failed one included
    LargeFileSystem largeFs = LargeFileSystem::Auto;
    std::string trace = {}; // when given, the whole trace and the progress steps
    std::vector<int> steps = {};
    double progressMax = 100;
};

constexpr auto F = Item::Format, M = Item::Manufacture, C = Item::CheckConfig, W = Item::CheckWp;
const nlohmann::json kProtected = {{"write_protect", true}}, kHealthy = nlohmann::json::object();
constexpr auto kExfat = LargeFileSystem::Exfat, kAuto = LargeFileSystem::Auto;

// Areas of 20,000 sectors (FAT12: boot 32, FATs 33 and 45, root 57) or two of
// 10,000 (the extended table at 9,999, boot 10,031, root 10,056). A drive of
// 4,096,002 sectors: FAT32 reserved 32.., FATs 192 and 4,192, root 8,192;
// exFAT boot 32.., FAT 8,192, bitmap and up-case 16,384, root 16,512.
TEST(FailureCode, StatusResultWritesAndTraces) {
    // clang-format off
    const CodeCase cases[] = {
        {"Extended29", F, kHealthy, nullptr, 0, 0, 5, kAuto,
         kExtendedScan + kExtendedErase + kTail, kFourSteps},
        {"Plain29", F, kPlain, nullptr, 0, 0, 5, kAuto,
         kStart + kPlainUnits + kPlainErase + kTail, kFourSteps},
        {"Extended27", F, {{"info", {12, 0x27}}}, nullptr, 0, 0, 5, kAuto,
         kExtendedScan + kPreSequence + kExtendedErase + kTail, kFourSteps},
        {"Plain27", F, With(kPlain, {{"info", {12, 0x27}}}), nullptr, 0, 0, 5, kAuto,
         kStart + kPlainUnits + kPreSequence + kPlainErase + kTail, kFourSteps},
        // 0xFF 0xFE is no extended scan: one 0x9F, then the plain unit commands.
        {"ModeBlockFFFE", F, {{"mode", {0xFF, 0xFE}}, {"units94", {{"default", 3}}}}, nullptr, 0, 0, 5, kAuto,
         kStart + "VendorR 0x9F 0 512\n" + kPlainUnits + kPlainErase + kTail, kFourSteps},
        // Information byte 130 = 14: the scan ends after 0x75 with no failure, and
        // the low-level format counts no entries (the 0x95 lists would reject).
        // A bar of 3.4 rounds to 3, below the 4 units: step 0.
        {"ForeignController", F, {{"info", {14, 0x29}}, {"units95", {{"default", 9}}}}, nullptr, 0, 0, 5,
         kAuto, "VendorR 0x75 0 512\n" + kPlainErase + kTail, {0, 0, 0, 0}, 3.4},
        {"TwoLargeBlockChipsOneModeBlock", F, {{"chips", {0xF1, 0xF1}}}, nullptr, 0, 0, 5, kAuto,
         kExtendedScan + Units("VendorScan 0x94 1 %d 241 0 0 512\nVendorScan 0x98 1 %d 16 0 0 512\n") +
         kExtendedErase + Units("VendorScan 0x95 1 %d 241 0 0 512\n") + kTail,
         std::vector<int>(8, 12)},
        {"EmptyChipList", F, {{"chips", nlohmann::json::array()}}, nullptr, 0, 0, 5, kAuto,
         kStart + "VendorR 0x93 0 512\n" + kTail, {}},
        // Capacity 1,002: 1,001 x 0.5 = 500.5 rounds to 500, so the second area's
        // table sits at 499 and its file system 32 sectors later.
        {"TwoAreasHalfwayRoundsToEven", F, {{"chips", {0xE6}}, {"capacity", 1002}}, TwoAreas, 0, 0, 10, kAuto,
         kStart + kPlainUnits + kPlainErase + kClose + kVolume +
         "Write 1 499\nWrite 1 531\nWrite 12 532\nWrite 12 544\nWrite 32 556\n" + kEnd, kFourSteps},
        {"Unplugged_FE", F, {{"plugged", false}}, nullptr, 0xFE, kNotRun, 0},
        {"Information_75", F, Vendor("vendor_r", 0x75), nullptr, 0x75, kNotRun, 0},
        {"ScanChipList_93", F, Vendor("vendor_r", 0x93, 1), nullptr, 0x93, kNotRun, 0},
        // An empty reply has no 0xAA terminator: no chip list.
        {"ChipListWithoutEnd_93", F, Vendor("vendor_r", 0x93, 1, "short_reply"), nullptr, 0x93, kNotRun, 0},
        {"ModeBlock_9F", F, Vendor("vendor_r", 0x9F), nullptr, 0x9F, kNotRun, 0},
        {"UnitList_94", F, Vendor("vendor_scan", 0x94, 3), nullptr, 0x94, kNotRun, 0},
        {"Entry_98", F, Vendor("vendor_scan", 0x98, 2), nullptr, 0x98, kNotRun, 0},
        {"EraseChipList_93", F, Vendor("vendor_r", 0x93, 2), nullptr, 0x93, 1, 0},
        {"UnitFormat_95", F, Vendor("vendor_scan", 0x95, 2), nullptr, 0x95, 1, 0},
        {"UnitRejected_10", F, {{"info", {12, 0x27}}, {"units95", {{"0:0", 2}}}}, nullptr, 0x10, 1, 0},
        {"EraseClose_96", F, Vendor("vendor_r", 0x96, 1), nullptr, 0x96, 1, 0},
        {"FinishClose_96", F, Vendor("vendor_r", 0x96, 2), nullptr, 0x96, 1, 5},
        // Recorded, and the volume still goes out on the last known size (0).
        {"NoCapacity_9A", F, Faults({{"op", "capacity"}}), nullptr, 0x9A, 1, 5},
        {"Finish_9B", F, Vendor("vendor_w", 0x9B), nullptr, 0x9B, 1, 5},
        {"MasterBootRecord_240", F, WriteAt(0), nullptr, 240, 1, 1},
        {"BootSector_241", F, WriteAt(32), nullptr, 241, 1, 2},
        {"SecondFatCopy_242", F, WriteAt(45), nullptr, 242, 1, 4},
        // No sector of the second area is written.
        {"FirstRootDirectory_243", F, WriteAt(57), TwoAreas, 243, 1, 5},
        {"ExtendedBootRecord_255", F, WriteAt(9999), TwoAreas, 255, 1, 6},
        {"SecondBootSector_241", F, WriteAt(10031), TwoAreas, 241, 1, 7},
        {"SecondRootDirectory_243", F, WriteAt(10056), TwoAreas, 243, 1, 10},
        {"Fat32BootSector_241", F, WriteAt(32, 4096002), nullptr, 241, 1, 2},
        {"Fat32SecondFat_242", F, WriteAt(4192, 4096002), nullptr, 242, 1, 68},
        {"Fat32Root_243", F, WriteAt(8192, 4096002), nullptr, 243, 1, 131},
        {"ExfatBootRegion_241", F, WriteAt(32 + 12, 4096002), nullptr, 241, 1, 2, kExfat},
        {"ExfatFat_242", F, WriteAt(8192, 4096002), nullptr, 242, 1, 3, kExfat},
        {"ExfatUpcase_FA", F, WriteAt(16384 + 64, 4096002), nullptr, kBitmapOrUpcaseFailed, 1, 12, kExfat},
        {"ExfatRoot_243", F, WriteAt(16512, 4096002), nullptr, 243, 1, 13, kExfat},
        {"Boundary_99", F, Vendor("vendor_w", 0x99, 2), nullptr, 0x99, 1, 5},
        // A capacity of 1 records 0x9A; the failing table then replaces it.
        {"LaterFailureReplaces_240", F, With({{"capacity", 1}}, WriteAt(0)), nullptr, 240, 1, 1},
        {"AreaPastTheDrive_F8", F, kHealthy, [](P p) { p.FirstShare = 1.5; p.SecondShare = -0.5; },
         0xF8, 1, 0},
        {"ConfigWriteRefused_F6", M, Vendor("vendor_w", 0x81), nullptr, 0xF6, 0, 0},
        // Identities that must not reach the drive at all: nothing is sent.
        {"EmptyIdentityText_F7", M, kHealthy, [](P p) { p.UsbProductString.clear(); }, 0xF7, 2, 0},
        {"VidNotHex_F9", M, kHealthy, [](P p) { p.Vid = "12G4"; }, 0xF9, 2, 0},
        {"PidTooShort_F9", M, kHealthy, [](P p) { p.Pid = "567"; }, 0xF9, 2, 0},
        {"DescriptorLengthPastAByte_F9", M, kHealthy,
         [](P p) { p.UsbManufactureString = QString(127, 'M'); }, 0xF9, 2, 0},
        {"BlockPast512Bytes_F9", M, kHealthy,
         [](P p) { p.UsbManufactureString = QString(120, 'M'); p.UsbProductString = QString(108, 'P'); },
         0xF9, 2, 0},
        {"UsbCharacterWithoutCode_F9", M, kHealthy,
         [](P p) { p.UsbProductString = QString::fromUtf8("Flash\u4e00"); }, 0xF9, 2, 0},
        {"ScsiCharacterWithoutCodeInsideTheCut_F9", M, kHealthy,
         [](P p) { p.ScsiManufactureString = QString::fromUtf8("AB\u4e00"); }, 0xF9, 2, 0},
        {"ConfigNotRead_82", C, Vendor("vendor_r", 0x82), nullptr, 0x82, 0, 0},
        {"ConfigDiffers_F4", C, kHealthy, nullptr, 0xF4, 1, 0},
        // An empty identity expects an all-zero block, which a fresh drive holds.
        {"EmptyIdentityMatchesZeros_F7", C, kHealthy, [](P p) { p.Pid.clear(); }, 0xF7, 2, 0},
        {"WriteProtected", W, kProtected, nullptr, 0, 1, 0},
        {"NotWriteProtected_F5", W, kHealthy, nullptr, 0xF5, 0, 0},
        {"ModeSenseNoReply_F5", W, With(kProtected, Faults({{"op", "mode_sense"}, {"effect", "no_reply"}})),
         nullptr, 0xF5, 0, 0}};
    // clang-format on
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ItemRun r(c.item, c.drive, c.product, c.largeFs, c.progressMax);
        EXPECT_EQ(std::pair(r.o.status, r.o.result), std::pair(c.status, c.result));
        std::string trace;
        long writes = 0;
        for (const std::string& l : r.trace) {
            trace += l + "\n";
            writes += l.starts_with("Write ");
        }
        EXPECT_EQ(writes, c.writes);
        if (!c.trace.empty()) {
            EXPECT_EQ(trace, c.trace);
            EXPECT_EQ(r.o.steps, c.steps);
        }
        // A failed write is the last call; a refused identity sends nothing.
        if (c.drive.contains("faults") && c.drive["faults"][0]["op"] == "write") {
            EXPECT_TRUE(trace.ends_with(" -> 0\n")) << trace;
        }
        if (c.item == M && c.result == kIdentityIncomplete) {
            EXPECT_EQ(trace, "");
        }
    }
}

TEST(UnitVerdict, LimitsOfTheFirstFourUnitsOfChipZero) {
    // Unit, its limit with information byte 0x29, with 0x27 or 0x2A.
    for (const auto& [unit, limit29, limitOther] :
         {std::array<int16_t, 3>{0, 3, 1}, {1, 4, 3}, {2, 3, 2}, {3, 3, 3}}) {
        for (const auto& [cc, limit] :
             {std::pair<int16_t, int16_t>{0x29, limit29}, {0x27, limitOther}, {0x2A, limitOther}}) {
            EXPECT_EQ(UnitVerdict(0, unit, limit, cc), 1) << unit << " " << cc;
            EXPECT_EQ(UnitVerdict(0, unit, static_cast<int16_t>(limit + 1), cc), 0)
                << unit << " " << cc;
        }
    }
    EXPECT_EQ(UnitVerdict(1, 0, 500, 0x27), 1); // other chips always pass
    EXPECT_EQ(UnitVerdict(0, 4, 500, 0x27), 1); // units from 4 on always pass
}

// The worked example's block.
const std::string kWorkedExample =
    "99 07 06 06 12 01 10 01 00 00 00 08 34 12 78 56 00 01 01 02 00 01 06 03 'A' 00 'B' 00 06 03 "
    "'C' 00 'D' 00 'EF' 20*6 'GH' 20*14 '7.77' 7A AA 55";

std::vector<uint8_t> StoredBlock(const SimDrive& sim) {
    std::ifstream in(sim.State("config.bin"), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Identity, StoredByteForByteAndCheckedBack) {
    // Name, product and drive changes, where the stored block is checked and
    // its bytes, what the check of the written identity finds.
    using Check = std::pair<int16_t, int16_t>;
    // clang-format off
    const std::tuple<const char*, void (*)(P), nlohmann::json, size_t, std::string, Check> cases[] = {
        {"WorkedExample", nullptr, kHealthy, 0, kWorkedExample + " 00*447", Check{0, kIdentityMatches}},
        // A read-back cut after 62 bytes loses the checksum and the end mark.
        {"ReadBackCut", nullptr, Faults({{"op", "vendor_r"}, {"effect", "short_reply"}, {"length", 62}}),
         0, kWorkedExample + " 00*447", Check{0xF4, kIdentityDiffers}},
        // 10 characters are cut to 8; 16 get no padding; a character past the
        // cut is never sent, so it needs no code.
        {"ScsiCutAndPadded", [](P p) { p.ScsiManufactureString = QString::fromUtf8("ABCDEFGHI\u4e00");
                                       p.ScsiProductString = "0123456789ABCDEF"; },
         kHealthy, 34, "'ABCDEFGH0123456789ABCDEF7.77'", Check{0, kIdentityMatches}},
        {"LongestStringsThatFit", [](P p) { // 227 characters together
             p.UsbManufactureString = QString(126, 'M'); p.UsbProductString = QString(101, 'P'); },
         kHealthy, 504, "'7.77' 62 AA 55 00", Check{0, kIdentityMatches}}};
    // clang-format on
    for (const auto& [name, change, drive, at, expected, checked] : cases) {
        SCOPED_TRACE(name);
        const ItemRun w(Item::Manufacture, drive, change);
        const std::vector<uint8_t> stored = StoredBlock(w.sim);
        EXPECT_EQ(
            std::tuple(w.o.status, w.o.result, w.trace, stored.size()),
            std::tuple(0, kIdentityWritten, std::vector<std::string>{"VendorW 0x81 512"}, 512u));
        EXPECT_TRUE(BytesAt(stored, at, Hex(expected)));
        const SimOutcome check = w.sim.Run(Item::CheckConfig, w.product);
        EXPECT_EQ(Check(check.status, check.result), checked);
    }
}

} // namespace
} // namespace ufd::test
