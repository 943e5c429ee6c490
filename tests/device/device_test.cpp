// The device procedures on simulated drives behind the real libquorlink: the
// failure code every fault leaves in a slot's Status, a whole Format's
// commands in order, and the configuration block as the drive stores it.
#include "format/format_bench.h"
#include "support/sim_station.h"

namespace ufd::test {
namespace {

using P = ProductConfig&;
using J = nlohmann::json;
const auto Faults = [](const J& fault) { return J{{"faults", {fault}}}; };
// The nth call (0: every one) of a vendor operation with that code.
const auto Vendor = [](const char* op, int code, int nth = 0, const char* effect = "fail") {
    return Faults({{"op", op}, {"code", code}, {"nth", nth}, {"effect", effect}});
};
const auto WriteAt = [](int64_t sector, int64_t capacity = 20001) {
    return J{{"faults", {{{"op", "write"}, {"sector", sector}}}}, {"capacity", capacity}};
};
const auto With = [](J a, const J& b) { return a.update(b), a; };
const auto TwoAreas = [](P p) { p.FirstShare = p.SecondShare = 0.5; };
const auto Same = [](P) {};

// An item on a healthy drive of 20,001 sectors with changes; the trace one call a line.
struct ItemRun {
    SimDrive sim;
    ProductConfig product = SampleProduct();
    SimOutcome o;
    std::string trace;
    ItemRun(Item item, const J& drive, void (*change)(P) = Same,
            LargeFileSystem largeFs = LargeFileSystem::Auto, double progressMax = 100)
        : sim(With(SimDriveEntry(20001), drive)) {
        change(product);
        sim.largeFs = largeFs;
        o = sim.Run(item, product, progressMax);
        for (const std::string& l : sim.Trace(o.handle)) {
            trace += l + "\n";
        }
    }
};

// A command for units 0 to 3 of a chip, %1 standing for the unit.
std::string Units(const char* command) {
    QString out;
    for (int u = 0; u < 4; ++u) {
        out += QString(command).arg(u);
    }
    return out.toStdString();
}

const std::string kStart = "VendorR 0x75 0 512\nVendorR 0x93 0 512\n";
const std::string kExtendedScan = kStart + "VendorR 0x9F 0 512\n" +
                                  Units("VendorScan 0x94 0 %1 241 0 0 512\n"
                                        "VendorScan 0x98 0 %1 16 0 0 512\n");
const std::string kExtendedErase =
    "VendorR 0x93 0 512\n" + Units("VendorScan 0x95 0 %1 241 0 0 512\n");
const std::string kPlainUnits = Units("Vendor 0x94 0 %1 512\n");
const std::string kPlainErase = "VendorR 0x93 0 512\n" + Units("Vendor 0x95 0 %1 512\n");
const std::string kPreSequence =
    "VendorR 0x93 0 512\nVendor 0x95 0 0 512\nVendorR 0x96 0 512\nTestUnitReady\n";
// The close of the low-level format, then one FAT12 area of 20,000 sectors,
// the boundary 0 and the closing read.
const std::string kClose =
    "VendorW 0x99 512\nVendorR 0x96 0 512\nTestUnitReady\nReadCapacity\nVendorW 0x9B 512\n";
const std::string kVolume = "Write 1 0\nWrite 1 32\nWrite 12 33\nWrite 12 45\nWrite 32 57\n";
const std::string kEnd = "VendorW 0x99 512\nVendorR 0x96 0 512\n", kTail = kClose + kVolume + kEnd;
const J kPlain = {{"chips", {0xE6}}, {"mode", {0, 0}}};
const std::vector<int> kFourSteps = {25, 25, 25, 25}; // a bar of 100 over 4 units

struct CodeCase {
    const char* name;
    Item item;
    J drive;
    int16_t status, result;
    long writes; // fnQuorbus_Write calls, the failed one included
    void (*product)(P) = Same;
    LargeFileSystem largeFs = LargeFileSystem::Auto;
    std::string trace = {}; // when given, the whole trace and the progress steps
    std::vector<int> steps = {};
    double progressMax = 100;
};

constexpr auto F = Item::Format, M = Item::Manufacture, C = Item::CheckConfig, W = Item::CheckWp;
const J kProtected = {{"write_protect", true}}, kHealthy = J::object();
constexpr auto kExfat = LargeFileSystem::Exfat, kAuto = LargeFileSystem::Auto;

// Areas of 20,000 sectors (FAT12: boot 32, FATs 33 and 45, root 57) or two of
// 10,000 (the extended table at 9,999, boot 10,031, root 10,056). A drive of
// 4,096,002 sectors: FAT32 reserved 32.., FATs 192 and 4,192, root 8,192;
// exFAT boot 32.., FAT 8,192, bitmap and up-case 16,384, root 16,512.
TEST(FailureCode, StatusResultWritesAndTraces) {
    // clang-format off
    const CodeCase cases[] = {
        {"Extended29", F, kHealthy, 0, 0, 5, Same, kAuto, kExtendedScan + kExtendedErase + kTail, kFourSteps},
        {"Plain29", F, kPlain, 0, 0, 5, Same, kAuto, kStart + kPlainUnits + kPlainErase + kTail, kFourSteps},
        {"Extended27", F, {{"info", {12, 0x27}}}, 0, 0, 5, Same, kAuto,
         kExtendedScan + kPreSequence + kExtendedErase + kTail, kFourSteps},
        // 0xFF 0xFE is no extended scan: one 0x9F, then the plain unit commands.
        {"ModeBlockFFFE", F, {{"mode", {0xFF, 0xFE}}, {"units94", {{"default", 3}}}}, 0, 0, 5, Same, kAuto,
         kStart + "VendorR 0x9F 0 512\n" + kPlainUnits + kPlainErase + kTail, kFourSteps},
        // Information byte 130 = 14: the scan ends after 0x75 with no failure, and
        // the low-level format counts no entries (the 0x95 lists would reject).
        // A bar of 3.4 rounds to 3, below the 4 units: step 0.
        {"ForeignController", F, {{"info", {14, 0x29}}, {"units95", {{"default", 9}}}}, 0, 0, 5, Same,
         kAuto, "VendorR 0x75 0 512\n" + kPlainErase + kTail, {0, 0, 0, 0}, 3.4},
        {"TwoLargeBlockChipsOneModeBlock", F, {{"chips", {0xF1, 0xF1}}}, 0, 0, 5, Same, kAuto,
         kExtendedScan + Units("VendorScan 0x94 1 %1 241 0 0 512\nVendorScan 0x98 1 %1 16 0 0 512\n") +
         kExtendedErase + Units("VendorScan 0x95 1 %1 241 0 0 512\n") + kTail, std::vector<int>(8, 12)},
        {"EmptyChipList", F, {{"chips", J::array()}}, 0, 0, 5, Same, kAuto, kStart + "VendorR 0x93 0 512\n" + kTail},
        // Capacity 1,002: 1,001 x 0.5 = 500.5 rounds to 500, so the second area's
        // table sits at 499 and its file system 32 sectors later.
        {"TwoAreasHalfwayRoundsToEven", F, {{"chips", {0xE6}}, {"capacity", 1002}}, 0, 0, 10, TwoAreas, kAuto,
         kStart + kPlainUnits + kPlainErase + kClose + kVolume +
         "Write 1 499\nWrite 1 531\nWrite 12 532\nWrite 12 544\nWrite 32 556\n" + kEnd, kFourSteps},
        {"Unplugged_FE", F, {{"plugged", false}}, 0xFE, kNotRun, 0},
        {"Information_75", F, Vendor("vendor_r", 0x75), 0x75, kNotRun, 0},
        {"ScanChipList_93", F, Vendor("vendor_r", 0x93, 1), 0x93, kNotRun, 0},
        // An empty reply has no 0xAA terminator: no chip list.
        {"ChipListWithoutEnd_93", F, Vendor("vendor_r", 0x93, 1, "short_reply"), 0x93, kNotRun, 0},
        {"ModeBlock_9F", F, Vendor("vendor_r", 0x9F), 0x9F, kNotRun, 0},
        {"UnitList_94", F, Vendor("vendor_scan", 0x94, 3), 0x94, kNotRun, 0},
        {"Entry_98", F, Vendor("vendor_scan", 0x98, 2), 0x98, kNotRun, 0},
        {"EraseChipList_93", F, Vendor("vendor_r", 0x93, 2), 0x93, 1, 0},
        {"UnitFormat_95", F, Vendor("vendor_scan", 0x95, 2), 0x95, 1, 0},
        {"EraseClose_96", F, Vendor("vendor_r", 0x96, 1), 0x96, 1, 0},
        {"FinishClose_96", F, Vendor("vendor_r", 0x96, 2), 0x96, 1, 5},
        // Recorded, and the volume still goes out on the last known size (0).
        {"NoCapacity_9A", F, Faults({{"op", "capacity"}}), 0x9A, 1, 5},
        {"Finish_9B", F, Vendor("vendor_w", 0x9B), 0x9B, 1, 5},
        {"BootSector_241", F, WriteAt(32), 241, 1, 2},
        {"SecondFatCopy_242", F, WriteAt(45), 242, 1, 4},
        {"ExtendedBootRecord_255", F, WriteAt(9999), 255, 1, 6, TwoAreas},
        {"SecondRootDirectory_243", F, WriteAt(10056), 243, 1, 10, TwoAreas},
        {"Fat32BootSector_241", F, WriteAt(32, 4096002), 241, 1, 2},
        {"Fat32SecondFat_242", F, WriteAt(4192, 4096002), 242, 1, 68},
        {"Fat32Root_243", F, WriteAt(8192, 4096002), 243, 1, 131},
        {"ExfatBootRegion_241", F, WriteAt(32 + 12, 4096002), 241, 1, 2, Same, kExfat},
        {"ExfatFat_242", F, WriteAt(8192, 4096002), 242, 1, 3, Same, kExfat},
        {"ExfatUpcase_FA", F, WriteAt(16384 + 64, 4096002), kBitmapOrUpcaseFailed, 1, 12, Same, kExfat},
        {"ExfatRoot_243", F, WriteAt(16512, 4096002), 243, 1, 13, Same, kExfat},
        {"Boundary_99", F, Vendor("vendor_w", 0x99, 2), 0x99, 1, 5},
        // A capacity of 1 records 0x9A; the failing table then replaces it.
        {"LaterFailureReplaces_240", F, With({{"capacity", 1}}, WriteAt(0)), 240, 1, 1},
        {"AreaPastTheDrive_F8", F, kHealthy, 0xF8, 1, 0, [](P p) { p.FirstShare = 1.5; p.SecondShare = -0.5; }},
        {"ConfigWriteRefused_F6", M, Vendor("vendor_w", 0x81), 0xF6, 0, 0},
        // Identities that must not reach the drive at all: nothing is sent.
        {"EmptyIdentityText_F7", M, kHealthy, 0xF7, 2, 0, [](P p) { p.UsbProductString.clear(); }},
        {"VidNotHex_F9", M, kHealthy, 0xF9, 2, 0, [](P p) { p.Vid = "12G4"; }},
        {"PidTooShort_F9", M, kHealthy, 0xF9, 2, 0, [](P p) { p.Pid = "567"; }},
        {"DescriptorLengthPastAByte_F9", M, kHealthy, 0xF9, 2, 0, [](P p) { p.UsbManufactureString = QString(127, 'M'); }},
        {"BlockPast512Bytes_F9", M, kHealthy, 0xF9, 2, 0,
         [](P p) { p.UsbManufactureString = QString(120, 'M'); p.UsbProductString = QString(108, 'P'); }},
        {"UsbCharacterWithoutCode_F9", M, kHealthy, 0xF9, 2, 0, [](P p) { p.UsbProductString = "Flash\u4e00"; }},
        {"ScsiCharacterWithoutCodeInsideTheCut_F9", M, kHealthy, 0xF9, 2, 0,
         [](P p) { p.ScsiManufactureString = "AB\u4e00"; }},
        {"ConfigNotRead_82", C, Vendor("vendor_r", 0x82), 0x82, 0, 0},
        // An empty identity expects an all-zero block, which a fresh drive holds.
        {"EmptyIdentityMatchesZeros_F7", C, kHealthy, 0xF7, 2, 0, [](P p) { p.Pid.clear(); }},
        {"ModeSenseNoReply_F5", W, With(kProtected, Faults({{"op", "mode_sense"}, {"effect", "no_reply"}})), 0xF5, 0, 0}};
    // clang-format on
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ItemRun r(c.item, c.drive, c.product, c.largeFs, c.progressMax);
        EXPECT_EQ(
            std::tuple(r.o.status, r.o.result, QString::fromStdString(r.trace).count("Write ")),
            std::tuple(c.status, c.result, c.writes));
        if (!c.trace.empty()) {
            EXPECT_EQ(std::pair(r.trace, r.o.steps), std::pair(c.trace, c.steps));
        }
        // A failed write is the last call; a refused identity sends nothing.
        if (c.drive.contains("faults") && c.drive["faults"][0]["op"] == "write") {
            EXPECT_TRUE(r.trace.ends_with(" -> 0\n")) << r.trace;
        }
        if (c.item == M && c.result == kIdentityIncomplete) {
            EXPECT_EQ(r.trace, "");
        }
    }
}

// Only byte 82 = 0x80 exactly is write protection: the library writes 0x80 or
// 0x00 there, so a rule that tests a bit would pass every other test.
TEST(WriteProtectByte, OnlyExactly0x80Counts) {
    for (const uint8_t byte : {0x80, 0x90, 0xFF, 0x00, 0x01}) {
        FormatBench b;
        b.transport.script = [&](const Call& c) {
            if (c.fn == "ModeSense") {
                std::string reply(512, '\0');
                reply[82] = static_cast<char>(byte);
                std::ofstream(b.transport.files.BinaryFile(), std::ios::binary) << reply;
            }
            return Answer{};
        };
        const bool isProtected = byte == 0x80;
        EXPECT_EQ(std::pair(CheckWriteProtect(b.ctx, 1), b.ctx.slots.DiskSlots[0].Status),
                  (std::pair<int16_t, int16_t>(isProtected, isProtected ? 0 : 0xF5)))
            << int(byte);
    }
}

// The limits of the first four units of chip 0 with information byte 0x29 and
// 0x27 (0x2A: the same as 0x27); other chips and units from 4 on always pass.
TEST(UnitVerdict, LimitsByUnitAndController) {
    // clang-format off
    const std::array<int16_t, 4> rows[] = {
        {0, 0, 3, 0x29}, {0, 1, 4, 0x29}, {0, 2, 3, 0x29}, {0, 3, 3, 0x29}, {0, 0, 1, 0x27},
        {0, 1, 3, 0x27}, {0, 2, 2, 0x27}, {0, 3, 3, 0x27}, {0, 0, 1, 0x2A}, {1, 0, 499, 0x27},
        {0, 4, 499, 0x27}};
    // clang-format on
    for (const auto& [chip, unit, limit, cc] : rows) {
        EXPECT_EQ(
            std::pair(UnitVerdict(chip, unit, limit, cc), UnitVerdict(chip, unit, limit + 1, cc)),
            (std::pair<int16_t, int16_t>(1, limit < 499 ? 0 : 1)))
            << unit << " " << cc;
    }
}

// The worked example's block.
const std::string kWorkedExample =
    "99 07 06 06 12 01 10 01 00 00 00 08 34 12 78 56 00 01 01 02 00 01 06 03 'A' 00 'B' 00 06 03 "
    "'C' 00 'D' 00 'EF' 20*6 'GH' 20*14 '7.77' 7A AA 55";

TEST(Identity, StoredByteForByteAndCheckedBack) {
    // Name, product and drive changes, where the stored block is checked and
    // its bytes, what the check of the written identity finds.
    using Check = std::pair<int16_t, int16_t>;
    // clang-format off
    const std::tuple<const char*, void (*)(P), J, size_t, std::string, Check> cases[] = {
        {"WorkedExample", Same, kHealthy, 0, kWorkedExample + " 00*447", {0, kIdentityMatches}},
        // A read-back cut after 62 bytes loses the checksum and the end mark.
        {"ReadBackCut", Same, Faults({{"op", "vendor_r"}, {"effect", "short_reply"}, {"length", 62}}), 0,
         kWorkedExample + " 00*447", {0xF4, kIdentityDiffers}},
        // 10 characters are cut to 8; 16 get no padding; a character past the
        // cut is never sent, so it needs no code.
        {"ScsiCutAndPadded", [](P p) { p.ScsiManufactureString = "ABCDEFGHI\u4e00"; p.ScsiProductString = "0123456789ABCDEF"; },
         kHealthy, 34, "'ABCDEFGH0123456789ABCDEF7.77'", {0, kIdentityMatches}},
        // 227 characters together.
        {"LongestStringsThatFit", [](P p) { p.UsbManufactureString = QString(126, 'M'); p.UsbProductString = QString(101, 'P'); },
         kHealthy, 504, "'7.77' 62 AA 55 00", {0, kIdentityMatches}}};
    // clang-format on
    for (const auto& [name, change, drive, at, expected, checked] : cases) {
        SCOPED_TRACE(name);
        const ItemRun w(Item::Manufacture, drive, change);
        std::ifstream in(w.sim.State("config.bin"), std::ios::binary);
        const std::vector<uint8_t> stored{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(std::tuple(w.o.status, w.o.result, w.trace, stored.size()),
                  std::tuple(0, kIdentityWritten, "VendorW 0x81 512\n", 512u));
        EXPECT_TRUE(BytesAt(stored, at, Hex(expected)));
        const SimOutcome check = w.sim.Run(Item::CheckConfig, w.product);
        EXPECT_EQ(Check(check.status, check.result), checked);
    }
}

} // namespace
} // namespace ufd::test
