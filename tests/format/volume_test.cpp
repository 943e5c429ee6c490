// The writers' bytes for each size, whole volumes byte for byte (partition
// tables, FAT12/16, FAT32 and exFAT areas), and the geometry and sizing tables.
#include "format/fat_writers.h"
#include "format/geometry.h"
#include "format/large_area.h"
#include "format/partition_table.h"
#include "format_bench.h"

#include <cmath>

namespace ufd::test {
namespace {

TEST(WriteBootSector, ByteExactBySize) {
    // Sectors per cluster, the 16-bit total, sectors per FAT, the 32-bit total,
    // FAT12 or 16: 2,847 sectors, 31,967, then 31,968 in the 16-bit field,
    // 63,967, 63,968 in the 32-bit field.
    using S = std::string;
    // clang-format off
    const std::tuple<double, int16_t, S, S, S, S, S> cases[] = {
        {2880, kFat12, "01", "1F 0B", "0C", "00*4", "2"}, {32000, kFat12, "08", "DF 7C", "0C", "00*4", "2"},
        {32001, kFat16, "01", "E0 7C", "FF", "00*4", "6"}, {64000, kFat16, "01", "DF F9", "FF", "00*4", "6"},
        {64001, kFat16, "02", "00 00", "FF", "E0 F9 00 00", "6"}, {1000000, kFat16, "10", "00 00", "FF", "1F 42 0F 00", "6"},
        {4096000, kFat16, "40", "00 00", "FF", "DF 7F 3E 00", "6"}};
    // clang-format on
    for (const auto& [area, kind, perCluster, total16, perFat, total32, type] : cases) {
        FormatBench b;
        EXPECT_TRUE(WriteBootSector(b.ctx, b.transport, 1, 1234, area, kind) &&
                    b.Written() == (Writes{{1234, 1}}));
        EXPECT_TRUE(BytesAt(b.WrittenAt(1234), 0,
                            Hex("EB 3C 90 'MSDOS5.0' 00 02 " + perCluster + " 01 00 02 00 02 " +
                                total16 + " F8 " + perFat + " 00 3F 00 FF 00 3F 00*3 " + total32 +
                                " 80 00 29 05 8F 93 80 'NO' 20 'NAME' 20*4 'FAT1" + type +
                                "' 20*3 00*448 55 AA")))
            << area;
    }
}

TEST(WriteRootDirectory, LabelEntry) {
    // Windows-1252 codes; a character without one keeps its blank; a root
    // directory at sector 511 gets no label.
    // clang-format off
    const std::tuple<QString, int32_t, std::string> cases[] = {
        {"TESTDISK", 543, "'TESTDISK' 20*3"}, {"", 543, "20*11"}, {"ABCDEFGHIJKLMNO", 543, "'ABCDEFGHIJK'"},
        {"usb disk", 543, "'usb' 20 'disk' 20*3"}, {"Ün€中!", 543, "DC 'n' 80 20 '!' 20*6"}, {"TESTDISK", 511, ""}};
    // clang-format on
    for (const auto& [label, sector, name] : cases) {
        FormatBench b;
        b.ctx.Product.DiskLabel = label;
        EXPECT_TRUE(WriteRootDirectory(b.ctx, b.transport, 1, sector) &&
                    b.Written() == (Writes{{sector, 32}}));
        EXPECT_TRUE(BytesAt(b.WrittenAt(sector), 0,
                            Hex(name.empty() ? "" : name + " 08 00*10 A8 8B EA 2C", 16384)))
            << label.toStdString();
    }
}

// A partition table sector: the disk signature (MBR only), the entries from
// byte 446, then 55 AA.
std::vector<uint8_t> TableSector(bool mbr, const std::string& entries) {
    return Hex((mbr ? "00*440 4D B9 2A 67 00 00 " : "00*446 ") + entries + " 00*" +
               std::to_string(64 - Hex(entries).size()) + " 55 AA");
}

// One FAT16 area of 1,000,000 sectors and its first 11 writes.
const Writes kFat16Writes = {{0, 1},    {32, 1},   {33, 64},  {97, 64},  {161, 64}, {225, 64},
                             {288, 64}, {352, 64}, {416, 64}, {480, 64}, {543, 32}};

// Bytes at (sector, offset).
using Bytes = std::vector<std::tuple<int64_t, size_t, std::vector<uint8_t>>>;

TEST(BuildVolume, WritesTablesAndAreas) {
    const auto label = Hex("'TESTDISK' 20*3 08");
    // clang-format off
    // Name, the two areas, the first share, the writes after kFat16Writes, bytes, the boundary.
    const std::tuple<const char*, double, double, double, Writes, Bytes, std::string> cases[] = {
        // Each FAT copy's first write starts F8 FF FF FF, the rest is zeros;
        // the second copy one sector back.
        {"OneAreaOfAMillion", 1000000, 0, 1.0, {}, {{0, 0, TableSector(true, "80 01 01 00 06 1F E0 F0 20 00 00 00 1F 42 0F 00")},
         {543, 0, label}, {33, 0, Hex("F8 FF FF FF", 32768)}, {97, 0, Hex("", 32768)}, {288, 0, Hex("F8 FF FF FF", 32768)},
         {480, 0, Hex("", 32768)}}, ""},
        // The extended entry's end cylinder 0xD1 + 0xD1 exceeds a byte and stays 0.
        // Each boot sector for its own area: 499,967 and 499,966 sectors.
        {"TwoAreasOfHalfAMillion", 500000, 499999, 0.5,
         {{499999, 1}, {500031, 1}, {500032, 64}, {500096, 64}, {500160, 64}, {500224, 64}, {500287, 64},
          {500351, 64}, {500415, 64}, {500479, 64}, {500542, 32}},
         {{0, 0, TableSector(true, "80 01 01 00 06 10 E0 D1 20 00 00 00 FF A0 07 00 00 00 01 D1 05 10 E0 00 1F A1 07 00 1E A1 07 00")},
          {499999, 0, TableSector(false, "80 01 01 00 06 10 E0 D1 20 00 00 00 FE A0 07 00")}, {32, 32, Hex("FF A0 07 00")},
          {500031, 32, Hex("FE A0 07 00")}, {500542, 0, label}}, "1F A1 07 00"}, // 499,999
        // A second area of 0: no extended entry, yet an extended boot record of
        // F - 33 sectors (39,967) and a FAT12 area.
        {"SecondAreaOfZeroTakesTheFirstAreaCount", 40000, 0, 0.999, {{39999, 1}, {40031, 1}, {40032, 12}, {40044, 12}, {40056, 32}},
         {{0, 462, Hex("00*48")}, {39999, 458, Hex("1F 9C 00 00")}, {40031, 22, Hex("0C")}, {40032, 0, Hex("F8 FF FF", 6144)},
          {40044, 0, Hex("F8 FF FF", 6144)}}, "3F 9C 00 00"}}; // where the second area begins: 39,999
    // clang-format on
    for (const auto& [name, first, second, share, more, bytes, boundary] : cases) {
        SCOPED_TRACE(name);
        FormatBench b;
        b.ctx.Product.FirstShare = share;
        const Sector mbr = b.ctx.MbrTemplate, boot = b.ctx.Fat16BootTemplate;
        // Every write goes to the transport the caller gives (Verify's log), none past it.
        RecordingTransport bypassed;
        b.ctx.transport = &bypassed;
        ASSERT_EQ(BuildVolume(b.ctx, b.transport, 1, first, second), kVolumeBuilt);
        EXPECT_TRUE(bypassed.calls.empty());
        Writes writes = kFat16Writes;
        writes.insert(writes.end(), more.begin(), more.end());
        EXPECT_EQ(b.Written(), writes);
        for (const auto& [sector, offset, expected] : bytes) {
            EXPECT_TRUE(BytesAt(b.WrittenAt(sector), offset, expected)) << sector;
        }
        // The boundary block comes last: the second area's size, or 0.
        EXPECT_EQ(b.transport.calls.back().args, (std::vector<int64_t>{kHandle, 0x99, 512}));
        EXPECT_TRUE(BytesAt(b.transport.calls.back().data, 0, Hex(boundary, 512)));
        // The templates' bytes reach the drive in every sector written from them.
        EXPECT_EQ(std::pair(b.ctx.MbrTemplate, b.ctx.Fat16BootTemplate), std::pair(mbr, boot));
    }
}

// Too small for the file system (90 sectors for FAT12: 32 + boot + 2 x 12
// FAT + 32 root + 1 data), negative, or past what the file system chosen for
// the area can hold (above 4,096,000 sectors FAT32 or exFAT, up to the int32
// limit): nothing is written.
TEST(BuildVolume, AreasThatCannotHoldTheirFileSystemWriteNothing) {
    constexpr double kBuilt = kVolumeBuilt, kTooLarge = kAreaTooLarge, kTooSmall = kAreaTooSmall;
    // clang-format off
    const std::tuple<double, double, int16_t> cases[] = {
        // {0, 0}: no capacity, the steps still run, 0x9A stays. {0, 1000000}: shares 0 and 1. Then
        // last sectors past int32; {150000, -50000}: shares 1.5 and -0.5.
        {4096000, 4096000, kBuilt}, {90, 90, kBuilt}, {4096001, 1000, kBuilt}, {100000, 4096001, kBuilt}, {0, 0, kBuilt},
        {33505296, 1000, kBuilt}, {89, 1000, kTooSmall}, {1000, 89, kTooSmall}, {89, 0, kTooSmall}, {0, 1000000, kTooSmall},
        {2147483648.0, 1000, kTooLarge}, {100000, 2147483647.0, kTooLarge}, {150000, -50000, kTooSmall}};
    // clang-format on
    for (const auto& [first, second, result] : cases) {
        FormatBench b;
        b.ctx.Product.FirstShare = 0.5;
        const int16_t built = BuildVolume(b.ctx, b.transport, 1, first, second);
        EXPECT_EQ(std::pair(built, b.transport.calls.empty()),
                  std::pair(result, result == kAreaTooLarge))
            << first << " " << second;
    }
}

// One area just above 4,096,000 sectors: a partition of 32 + 4,095,968.
constexpr double kArea = 4096001;

TEST(LargeArea, KindAndClusterSizeByAreaAndSetting) {
    using enum LargeFileSystem;
    using K = LargeKind;
    // clang-format off
    const std::tuple<double, LargeFileSystem, LargeKind, uint32_t> rows[] = {
        {16777217, Auto, K::Fat32, 16}, {33554432, Auto, K::Fat32, 16}, {33554433, Auto, K::Fat32, 32},
        {67108864, Auto, K::Fat32, 32}, {67108865, Auto, K::Exfat, 256}, {67108864, Exfat, K::Exfat, 64}};
    // clang-format on
    for (const auto& [area, setting, kind, cluster] : rows) {
        EXPECT_EQ(ChooseLargeKind(area, setting), kind) << area;
        EXPECT_EQ(LargeSectorsPerCluster(kind, area), cluster) << area;
    }
}

TEST(LargeArea, Fat32Bytes) {
    FormatBench b;
    RecordingTransport bypassed;
    b.ctx.transport = &bypassed;
    ASSERT_EQ(BuildVolume(b.ctx, b.transport, 1, kArea, 0), kVolumeBuilt);
    EXPECT_TRUE(bypassed.calls.empty());
    // Type 0C; the geometry's 126 heads and 1,016 cylinders still fit CHS.
    EXPECT_TRUE(
        BytesAt(b.WrittenAt(0), 446, Hex("80 01 01 00 0C 7E E0 F8 20 00 00 00 E0 7F 3E 00")));
    // 160 reserved, 32 hidden, FATs of 4,000; FSInfo: 510,975 free of 510,976
    // clusters, next free 3. The backups, the second FAT and the label the
    // tools judge in image_verdict_test.
    // clang-format off
    const std::vector<uint8_t> region = Hex(
        "EB 58 90 'MSDOS5.0' 00 02 08 A0 00 02 00*4 F8 00 00 3F 00 FF 00 20 00*3 E0 7F 3E 00 A0 0F "
        "00*6 02 00*3 01 00 06 00*13 80 00 29 05 8F 93 80 'TESTDISK' 20*3 'FAT32' 20*3 00*420 55 AA "
        "52 52 61 41 00*480 72 72 41 61 FF CB 07 00 03 00*17 55 AA");
    // clang-format on
    EXPECT_TRUE(BytesAt(b.WrittenAt(32), 0, region));
    EXPECT_TRUE(BytesAt(b.WrittenAt(192), 0, Hex("F8 FF FF 0F FF FF FF 0F FF FF FF 0F 00")));
    // Reserved region, both FATs and the root cluster; no write above 32 KiB.
    int64_t sectors = 0, most = 0;
    for (const auto& [first, count] : b.Written()) {
        sectors += count, most = std::max(most, count);
    }
    EXPECT_EQ(std::pair(most, sectors), (std::pair<int64_t, int64_t>(64, 1 + 160 + 2 * 4000 + 8)));
}

// The exFAT boot checksum as the format defines it: every byte of sectors 0
// to 10 but VolumeFlags (106, 107) and PercentInUse (112), rotated right
// before each byte is added.
uint32_t BootChecksum(const std::vector<uint8_t>& region) {
    uint32_t sum = 0;
    for (size_t i = 0; i < 11 * 512; ++i) {
        if (i != 106 && i != 107 && i != 112) {
            sum = (sum << 31 | sum >> 1) + region[i];
        }
    }
    return sum;
}

TEST(LargeArea, ExfatBytes) {
    FormatBench b;
    b.ctx.Settings.LargeFs = LargeFileSystem::Exfat;
    b.ctx.Product.DiskLabel = QStringLiteral("Clé 2"); // é has its code page byte
    RecordingTransport bypassed;
    b.ctx.transport = &bypassed;
    ASSERT_EQ(BuildVolume(b.ctx, b.transport, 1, kArea, 0), kVolumeBuilt);
    EXPECT_TRUE(bypassed.calls.empty());
    // Partition offset 32, 4,095,968 sectors, FAT at 8,160 (drive 8,192) of
    // 500 sectors, heap at 16,352 (drive 16,384) of 63,744 clusters, root
    // cluster 4, the serial; the extended boot sectors' signatures.
    const std::vector<uint8_t> boot = b.WrittenAt(32);
    const std::string extended = QString(" 00*510 55 AA").repeated(8).toStdString();
    EXPECT_TRUE(BytesAt(boot, 0,
                        Hex("EB 76 90 'EXFAT' 20*3 00*53 20 00*7 E0 7F 3E 00*5 E0 1F 00 00 F4 01 "
                            "00 00 E0 3F 00 00 00 F9 00 00 04 00*3 05 8F 93 80 00 01 00 00 09 06 "
                            "01 80 00 00*397 55 AA" +
                            extended)));
    EXPECT_TRUE(BytesAt(boot, 12 * 512, {boot.begin(), boot.begin() + 12 * 512})); // backup
    // Sector 11 repeats the checksum of the eleven before it; a change to any
    // byte it covers changes the sum, and only those bytes do.
    const uint32_t sum = BootChecksum(boot);
    std::vector<uint8_t> sector;
    for (int i = 0; i < 128; ++i) {
        sector.insert(sector.end(),
                      {uint8_t(sum), uint8_t(sum >> 8), uint8_t(sum >> 16), uint8_t(sum >> 24)});
    }
    EXPECT_TRUE(BytesAt(boot, 11 * 512, sector));
    for (const size_t at : {0, 105, 106, 107, 112, 113, 11 * 512 - 1, 11 * 512}) {
        std::vector<uint8_t> changed = boot;
        changed[at] ^= 0x5A;
        const bool covered = at < 11 * 512 && at != 106 && at != 107 && at != 112;
        EXPECT_EQ(ExfatBootChecksum(changed.data()) != sum, covered) << at;
    }
    // Bitmap (cluster 2), up-case (3) and root (4) chains, one cluster each;
    // 7,968 bytes of bitmap, 5,836 of up-case table (its bytes: the image verdicts).
    EXPECT_TRUE(BytesAt(b.WrittenAt(8192), 0, Hex("F8 FF*19 00")));
    EXPECT_TRUE(BytesAt(b.WrittenAt(16384), 0, Hex("07", 32768)));
    EXPECT_TRUE(BytesAt(b.WrittenAt(16384 + 128), 0,
                        Hex("83 05 'C' 00 'l' 00 E9 00 20 00 '2' 00*21 81 00*19 02 00*3 20 1F "
                            "00*6 82 00*3 0D D3 19 E6 00*12 03 00*3 CC 16 00*7")));
}

TEST(HexPad, PadsShowsNegativesWhole) {
    EXPECT_EQ(QStringList({HexPad(5, 8, false), HexPad(-1, 2, false), HexPad(255, 2, true)})
                  .join(' ')
                  .toStdString(),
              "00000005 FFFFFFFF 0xFF");
}

using Hsc = std::array<Calc, 3>; // head, sector, cylinder

TEST(GeometrySearch, EndAddressTable) {
    // clang-format off
    // 20,000: 312.5 cylinders round to even 312; 65,472: exactly 1023 cylinders with 2 heads;
    // 65,504: 1023.5 rounds to 1024, one head more; 33,505,295: the last size that fits (1023
    // heads do not fit a byte); -100: negative cylinders, which the byte cannot hold; then out
    // of heads.
    const std::pair<double, std::optional<Hsc>> cases[] = {
        {20000, Hsc{2, 96, 56}}, {65472, Hsc{2, 224, 255}}, {65504, Hsc{3, 160, 170}}, {0, Hsc{2, 32, 0}},
        {33505295, Hsc{1023, 224, 255}}, {-100, Hsc{2, 32, -2}}, {33505296, std::nullopt}, {1e12, std::nullopt},
        {std::numeric_limits<double>::infinity(), std::nullopt}, {std::nan(""), std::nullopt}};
    // clang-format on
    for (const auto& [sectors, hsc] : cases) {
        const auto g = GeometrySearch(sectors);
        EXPECT_EQ(g ? std::optional(Hsc{g->head, g->sector, g->cylinder}) : std::nullopt, hsc)
            << sectors;
    }
    // Beyond the cylinders' reach (256 heads and more) a large area's entry ends
    // FE FF FF.
    for (const double sectors : {8355840.0, 2147483647.0}) {
        EXPECT_EQ(LargeEndAddress(sectors), (std::array<uint8_t, 3>{0xFE, 0xFF, 0xFF})) << sectors;
    }
}

TEST(AreaSizing, ClusterSizeTypeAndFatKind) {
    // clang-format off
    // 2,880, 32,000/32,001, 64,000/64,001 and 4,096,000: the boot sectors' rows.
    const std::pair<double, int> perCluster[] = {{-5, 1}, {0, 1}, {2881, 2}, {8192, 2}, {8193, 4}, {14336, 4},
        {14337, 8}, {128000, 2}, {128001, 4}, {256000, 4}, {256001, 8}, {512000, 8}, {512001, 16}, {1024000, 16},
        {1024001, 32}, {2048000, 32}, {2048001, 64}, {4096001, 0}};
    const std::tuple<double, uint8_t, int16_t> kinds[] = {
        {32000, 0x01, kFat12}, {32001, 0x04, kFat16}, {63999, 0x04, kFat16}, {64000, 0x06, kFat16}};
    // clang-format on
    for (const auto& [sectors, n] : perCluster) {
        EXPECT_EQ(SectorsPerCluster(sectors), n) << sectors;
    }
    for (const auto& [sectors, type, kind] : kinds) {
        EXPECT_EQ(std::pair(FirstAreaType(sectors), FatKindFor(sectors)), std::pair(type, kind))
            << sectors;
    }
}

} // namespace
} // namespace ufd::test
