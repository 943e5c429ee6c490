// The bytes of the FAT32 and exFAT volumes of an area just above 4,096,000
// sectors, the size thresholds, and the failure code of every region.
#include "format/large_area.h"
#include "format_bench.h"
#include "support/sim_station.h"

namespace ufd::test {
namespace {

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
