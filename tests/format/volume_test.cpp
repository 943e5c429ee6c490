// Whole volumes byte for byte: partition tables and the areas' file systems,
// the FAT32 and exFAT volumes of an area just above 4,096,000 sectors, the
// size thresholds, and the failure code of every large region.
#include "format/large_area.h"
#include "format_bench.h"
#include "support/sim_station.h"

#include <cmath>

namespace ufd::test {
namespace {

using Writes = std::vector<std::pair<int64_t, int64_t>>;

// A partition table sector: the disk signature (MBR only), the entries from
// byte 446, then 55 AA.
std::vector<uint8_t> TableSector(bool signature, const std::vector<uint8_t>& entries) {
    std::vector<uint8_t> sector(512);
    if (signature) {
        std::ranges::copy(std::vector<uint8_t>{0x4D, 0xB9, 0x2A, 0x67}, sector.begin() + 440);
    }
    std::ranges::copy(entries, sector.begin() + 446);
    sector[510] = 0x55;
    sector[511] = 0xAA;
    return sector;
}

TEST(BuildVolume, OneAreaOfAMillionSectors) {
    FormatBench b;
    ASSERT_EQ(BuildVolume(b.ctx, 1, 1000000, 0), kVolumeBuilt);
    // clang-format off
    EXPECT_TRUE(BytesAt(b.WrittenAt(0), 0, TableSector(true, {
        0x80, 0x01, 0x01, 0x00, 0x06, 0x1F, 0xE0, 0xF0, 0x20, 0x00, 0x00, 0x00, 0x1F, 0x42, 0x0F, 0x00})));
    // The boot sector's bytes for this size: boot_sector_test.
    EXPECT_EQ(b.Writes(), (Writes{{0, 1}, {32, 1}, {33, 64}, {97, 64}, {161, 64}, {225, 64},
                                  {288, 64}, {352, 64}, {416, 64}, {480, 64}, {543, 32}}));
    // clang-format on
    EXPECT_TRUE(BytesAt(b.WrittenAt(543), 0,
                        {'T', 'E', 'S', 'T', 'D', 'I', 'S', 'K', ' ', ' ', ' ', 0x08}));
    // The boundary block comes last and says 0: no second area.
    EXPECT_EQ(b.transport.calls.back().args, (std::vector<int64_t>{kHandle, 0x99, 512}));
    EXPECT_TRUE(ZeroFrom(b.transport.calls.back().data, 0, 512));
    EXPECT_EQ(b.transport.calls.size(), 12u);
}

TEST(BuildVolume, TwoAreasOfHalfAMillion) {
    FormatBench b;
    b.ctx.Product.FirstShare = 0.5;
    ASSERT_EQ(BuildVolume(b.ctx, 1, 500000, 499999), kVolumeBuilt);
    // The extended entry's end cylinder 0xD1 + 0xD1 exceeds a byte and stays 0.
    // clang-format off
    EXPECT_TRUE(BytesAt(b.WrittenAt(0), 0, TableSector(true, {
        0x80, 0x01, 0x01, 0x00, 0x06, 0x10, 0xE0, 0xD1, 0x20, 0x00, 0x00, 0x00, 0xFF, 0xA0, 0x07, 0x00,
        0x00, 0x00, 0x01, 0xD1, 0x05, 0x10, 0xE0, 0x00, 0x1F, 0xA1, 0x07, 0x00, 0x1E, 0xA1, 0x07, 0x00})));
    EXPECT_TRUE(BytesAt(b.WrittenAt(499999), 0, TableSector(false, {
        0x80, 0x01, 0x01, 0x00, 0x06, 0x10, 0xE0, 0xD1, 0x20, 0x00, 0x00, 0x00, 0xFE, 0xA0, 0x07, 0x00})));
    // clang-format on
    // Each boot sector for its own area: 499,967 and 499,966 sectors.
    EXPECT_TRUE(BytesAt(b.WrittenAt(32), 32, {0xFF, 0xA0, 0x07, 0x00}));
    EXPECT_TRUE(BytesAt(b.WrittenAt(500031), 32, {0xFE, 0xA0, 0x07, 0x00}));
    // clang-format off
    EXPECT_EQ(b.Writes(), (Writes{{0, 1}, {32, 1}, {33, 64}, {97, 64}, {161, 64}, {225, 64},
        {288, 64}, {352, 64}, {416, 64}, {480, 64}, {543, 32}, {499999, 1}, {500031, 1}, {500032, 64},
        {500096, 64}, {500160, 64}, {500224, 64}, {500287, 64}, {500351, 64}, {500415, 64},
        {500479, 64}, {500542, 32}}));
    // clang-format on
    EXPECT_TRUE(BytesAt(b.WrittenAt(500542), 0,
                        {'T', 'E', 'S', 'T', 'D', 'I', 'S', 'K', ' ', ' ', ' ', 0x08}));
    const Call& last = b.transport.calls.back();
    EXPECT_EQ(last.args, (std::vector<int64_t>{kHandle, 0x99, 512}));
    EXPECT_TRUE(BytesAt(last.data, 0, {0x1F, 0xA1, 0x07, 0x00})); // 499,999
    EXPECT_TRUE(ZeroFrom(last.data, 4, 512));
}

TEST(BuildVolume, SecondAreaOfZeroTakesTheFirstAreaCount) {
    FormatBench b;
    b.ctx.Product.FirstShare = 0.999;
    ASSERT_EQ(BuildVolume(b.ctx, 1, 40000, 0), kVolumeBuilt);
    // No extended entry, yet an extended boot record of F - 33 sectors.
    EXPECT_TRUE(ZeroFrom(b.WrittenAt(0), 462, 510));
    EXPECT_TRUE(BytesAt(b.WrittenAt(39999), 446 + 12, {0x1F, 0x9C, 0x00, 0x00})); // 39,967
    // 11 for the FAT16 first area, the EBR, 4 for a FAT12 second area.
    EXPECT_EQ(b.Writes().size(), 16u);
    EXPECT_EQ(b.WrittenAt(40031).at(22), 12);
}

// Too small for the file system (90 sectors for FAT12: 32 + boot + 2 x 12
// FAT + 32 root + 1 data), negative, or past what the file system chosen for
// the area can hold (above 4,096,000 sectors FAT32 or exFAT, up to the int32
// limit): nothing is written.
TEST(BuildVolume, AreasThatCannotHoldTheirFileSystemWriteNothing) {
    const std::tuple<double, double, int16_t> cases[] = {
        {4096000, 4096000, kVolumeBuilt},
        {90, 90, kVolumeBuilt},
        {0, 0, kVolumeBuilt}, // no capacity: the steps still run, 0x9A stays
        {89, 1000, kAreaTooLarge},
        {1000, 89, kAreaTooLarge},
        {2, 999998, kAreaTooLarge},  // shares 0.000002 and 0.999998
        {0, 1000000, kAreaTooLarge}, // shares 0 and 1
        {89, 0, kAreaTooLarge},
        {4096001, 1000, kVolumeBuilt},
        {100000, 4096001, kVolumeBuilt},
        {33505296, 1000, kVolumeBuilt},
        {2147483648.0, 1000, kAreaTooLarge},   // its last sector past int32
        {100000, 2147483647.0, kAreaTooLarge}, // the second area's, likewise
        {1e15, 1e15, kAreaTooLarge},
        {150000, -50000, kAreaTooLarge}, // shares 1.5 and -0.5
        {-1, 0, kAreaTooLarge},
        {std::nan(""), 0, kAreaTooLarge},
        {100000, std::numeric_limits<double>::infinity(), kAreaTooLarge}};
    for (const auto& [first, second, result] : cases) {
        FormatBench b;
        b.ctx.Product.FirstShare = 0.5;
        EXPECT_EQ(BuildVolume(b.ctx, 1, first, second), result) << first << " " << second;
        EXPECT_EQ(b.transport.calls.empty(), result == kAreaTooLarge) << first << " " << second;
    }
}

// The bytes of the FAT32 and exFAT volumes of an area just above 4,096,000
// sectors, the size thresholds, and the failure code of every region.
constexpr double kArea = 4096001; // one area; partition 32 + 4,095,968 sectors

TEST(LargeArea, KindAndClusterSizeByAreaAndSetting) {
    using enum LargeFileSystem;
    struct Row {
        double area;
        LargeFileSystem setting;
        LargeKind kind;
        uint32_t cluster;
    };
    const Row rows[] = {
        {4096001, Auto, LargeKind::Fat32, 8},     {16777216, Auto, LargeKind::Fat32, 8},
        {16777217, Auto, LargeKind::Fat32, 16},   {33554432, Auto, LargeKind::Fat32, 16},
        {33554433, Auto, LargeKind::Fat32, 32},   {67108864, Auto, LargeKind::Fat32, 32},
        {67108865, Auto, LargeKind::Exfat, 256},  {67108865, Fat32, LargeKind::Fat32, 64},
        {67108864, Exfat, LargeKind::Exfat, 64},  {4096001, Exfat, LargeKind::Exfat, 64},
        {2147483647, Auto, LargeKind::Exfat, 256}};
    for (const Row& r : rows) {
        const LargeKind kind = ChooseLargeKind(r.area, r.setting);
        EXPECT_EQ(kind, r.kind) << r.area;
        EXPECT_EQ(LargeSectorsPerCluster(kind, r.area), r.cluster) << r.area;
    }
}

TEST(LargeArea, Fat32Bytes) {
    FormatBench b;
    ASSERT_EQ(BuildVolume(b.ctx, 1, kArea, 0), kVolumeBuilt);
    // Type 0C; the geometry's 126 heads and 1,016 cylinders still fit CHS.
    EXPECT_TRUE(BytesAt(b.WrittenAt(0), 446,
                        {0x80, 0x01, 0x01, 0x00, 0x0C, 0x7E, 0xE0, 0xF8, 0x20, 0x00, 0x00, 0x00,
                         0xE0, 0x7F, 0x3E, 0x00}));
    const std::vector<uint8_t> reserved = b.WrittenAt(32);
    // clang-format off
    EXPECT_TRUE(BytesAt(reserved, 0, {
        0xEB, 0x58, 0x90, 'M', 'S', 'D', 'O', 'S', '5', '.', '0',
        0x00, 0x02, 0x08, 0xA0, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x00, 0x00, // 160 reserved
        0x3F, 0x00, 0xFF, 0x00, 0x20, 0x00, 0x00, 0x00, 0xE0, 0x7F, 0x3E, 0x00,       // hidden 32
        0xA0, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,       // FAT 4,000
        0x01, 0x00, 0x06, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0x80, 0x00, 0x29, 0x05, 0x8F, 0x93, 0x80,
        'T', 'E', 'S', 'T', 'D', 'I', 'S', 'K', ' ', ' ', ' ',
        'F', 'A', 'T', '3', '2', ' ', ' ', ' '}));
    // clang-format on
    EXPECT_TRUE(BytesAt(reserved, 510, {0x55, 0xAA}));
    // FSInfo: 510,975 free of 510,976 clusters, next free 3.
    EXPECT_TRUE(BytesAt(reserved, 512, {0x52, 0x52, 0x61, 0x41}));
    EXPECT_TRUE(BytesAt(reserved, 512 + 484,
                        {0x72, 0x72, 0x41, 0x61, 0xFF, 0xCB, 0x07, 0x00, 0x03, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(BytesAt(reserved, 512 + 508, {0x00, 0x00, 0x55, 0xAA}));
    // The backups at 6 and 7.
    EXPECT_TRUE(BytesAt(reserved, 6 * 512, {reserved.begin(), reserved.begin() + 1024}));
    const std::vector<uint8_t> fatHead = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF,
                                          0x0F, 0xFF, 0xFF, 0xFF, 0x0F, 0x00};
    EXPECT_TRUE(BytesAt(b.WrittenAt(192), 0, fatHead));
    EXPECT_TRUE(BytesAt(b.WrittenAt(4192), 0, fatHead));
    EXPECT_TRUE(BytesAt(b.WrittenAt(8192), 0,
                        {'T', 'E', 'S', 'T', 'D', 'I', 'S', 'K', ' ', ' ', ' ', 0x08}));
    // Reserved region, both FATs and the root cluster; no write above 32 KiB.
    int64_t sectors = 0;
    for (const auto& [first, count] : b.Writes()) {
        EXPECT_LE(count, 64) << first;
        sectors += count;
    }
    EXPECT_EQ(sectors, 1 + 160 + 2 * 4000 + 8);
}

TEST(LargeArea, ExfatBytes) {
    FormatBench b;
    b.ctx.Settings.LargeFs = LargeFileSystem::Exfat;
    b.ctx.Product.DiskLabel = QStringLiteral("Clé 2"); // é has its code page byte
    ASSERT_EQ(BuildVolume(b.ctx, 1, kArea, 0), kVolumeBuilt);
    EXPECT_EQ(b.WrittenAt(0).at(446 + 4), 0x07);
    const std::vector<uint8_t> boot = b.WrittenAt(32);
    EXPECT_TRUE(BytesAt(boot, 0, {0xEB, 0x76, 0x90, 'E', 'X', 'F', 'A', 'T', ' ', ' ', ' '}));
    EXPECT_TRUE(ZeroFrom(boot, 11, 64));
    // clang-format off
    EXPECT_TRUE(BytesAt(boot, 64, {
        0x20, 0, 0, 0, 0, 0, 0, 0,             // partition offset 32
        0xE0, 0x7F, 0x3E, 0, 0, 0, 0, 0,       // 4,095,968 sectors
        0xE0, 0x1F, 0, 0, 0xF4, 0x01, 0, 0,    // FAT at 8,160 (drive 8,192), 500 sectors
        0xE0, 0x3F, 0, 0, 0x00, 0xF9, 0, 0,    // heap at 16,352 (drive 16,384), 63,744 clusters
        0x04, 0, 0, 0, 0x05, 0x8F, 0x93, 0x80, // root cluster 4, serial
        0x00, 0x01, 0x00, 0x00, 0x09, 0x06, 0x01, 0x80, 0x00}));
    // clang-format on
    EXPECT_TRUE(BytesAt(boot, 510, {0x55, 0xAA}));
    for (int s = 1; s <= 8; ++s) {
        EXPECT_TRUE(BytesAt(boot, s * 512 + 508, {0x00, 0x00, 0x55, 0xAA})) << s;
    }
    const std::vector<uint8_t> sum(boot.begin() + 11 * 512, boot.begin() + 11 * 512 + 4);
    for (int at = 0; at < 512; at += 4) {
        EXPECT_TRUE(BytesAt(boot, 11 * 512 + at, sum)) << at;
    }
    EXPECT_EQ(ExfatBootChecksum(boot.data()),
              uint32_t{sum[0]} | sum[1] << 8 | sum[2] << 16 | uint32_t{sum[3]} << 24);
    EXPECT_TRUE(BytesAt(boot, 12 * 512, {boot.begin(), boot.begin() + 12 * 512})); // backup
    // Bitmap (cluster 2), up-case (3) and root (4) chains, one cluster each.
    EXPECT_TRUE(BytesAt(b.WrittenAt(8192), 0,
                        {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
    const std::vector<uint8_t> heap = b.WrittenAt(16384);
    EXPECT_TRUE(BytesAt(heap, 0, {0x07, 0x00}));
    EXPECT_TRUE(ZeroFrom(heap, 2, 32768));
    EXPECT_TRUE(BytesAt(b.WrittenAt(16384 + 64), 0, {UpcaseTable().begin(), UpcaseTable().end()}));
    // clang-format off
    EXPECT_TRUE(BytesAt(b.WrittenAt(16384 + 128), 0, {
        0x83, 0x05, 'C', 0, 'l', 0, 0xE9, 0, ' ', 0, '2', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
        0x81, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0x02, 0, 0, 0, 0x20, 0x1F, 0, 0, 0, 0, 0, 0, // 7,968 bytes of bitmap
        0x82, 0, 0, 0, 0x0D, 0xD3, 0x19, 0xE6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0x03, 0, 0, 0, 0xCC, 0x16, 0, 0, 0, 0, 0, 0, // 5,836 bytes of up-case table
        0x00}));
    // clang-format on
}

TEST(LargeArea, StandardUpcaseTable) {
    const auto& t = UpcaseTable();
    EXPECT_EQ(UpcaseChecksum(), 0xE619D30Du); // the checksum every exFAT tool knows
    EXPECT_TRUE(BytesAt({t.begin(), t.end()}, 0x61 * 2, {'A', 0, 'B', 0})); // a, b
    EXPECT_TRUE(BytesAt({t.begin(), t.end()}, 0xE0 * 2, {0xC0, 0x00}));     // à
    EXPECT_TRUE(BytesAt({t.begin(), t.end()}, 5836 - 4, {0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST(LargeArea, EndAddressBeyondCylinderReachIsFeFfFf) {
    EXPECT_EQ(LargeEndAddress(4096001), (std::array<uint8_t, 3>{0x7E, 0xE0, 0xF8}));
    EXPECT_EQ(LargeEndAddress(8355840), (std::array<uint8_t, 3>{0xFE, 0xFF, 0xFF})); // 256 heads
    EXPECT_EQ(LargeEndAddress(2147483647), (std::array<uint8_t, 3>{0xFE, 0xFF, 0xFF}));
}

struct FaultCase {
    const char* name;
    LargeFileSystem setting;
    int64_t sector; // the write covering it fails
    int16_t status;
    int writes; // the failed one included
};

// A drive of 4,096,002 sectors: FAT32 reserved 32.., FATs 192 and 4,192,
// root 8,192; exFAT boot 32.., FAT 8,192, bitmap and up-case 16,384, root 16,512.
TEST(LargeWriteFault, StopsWithItsCode) {
    // clang-format off
    const FaultCase cases[] = {
        {"Fat32BootSector", LargeFileSystem::Auto, 32, 241, 2},
        {"Fat32SecondFat", LargeFileSystem::Auto, 4192, 242, 68},
        {"Fat32Root", LargeFileSystem::Auto, 8192, 243, 131},
        {"ExfatBootRegion", LargeFileSystem::Exfat, 32 + 12, 241, 2},
        {"ExfatFat", LargeFileSystem::Exfat, 8192, 242, 3},
        {"ExfatUpcase", LargeFileSystem::Exfat, 16384 + 64, kBitmapOrUpcaseFailed, 12},
        {"ExfatRoot", LargeFileSystem::Exfat, 16512, 243, 13}};
    // clang-format on
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json drive = SimDriveEntry(4096002);
        drive["faults"] = {{{"op", "write"}, {"sector", c.sector}}};
        SimDrive sim(drive);
        sim.largeFs = c.setting;
        const SimOutcome o = sim.Run(Item::Format, SampleProduct());
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.result, 1);
        const auto trace = sim.Trace(o.handle);
        EXPECT_EQ(
            std::ranges::count_if(trace, [](const auto& l) { return l.starts_with("Write "); }),
            c.writes);
        ASSERT_FALSE(trace.empty());
        EXPECT_TRUE(trace.back().ends_with(" -> 0")) << trace.back(); // nothing after it
    }
}

} // namespace
} // namespace ufd::test
