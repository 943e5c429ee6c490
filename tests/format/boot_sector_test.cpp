// The writers' bytes for each size, the geometry and the sizing tables.
#include "format/fat_writers.h"
#include "format/geometry.h"
#include "format/partition_table.h"
#include "format_bench.h"

#include <array>
#include <cmath>

namespace ufd::test {
namespace {

// Bytes 0..61 of a written boot sector; only 13, 19-20, 22, 32-35 and 54-61
// differ between sizes.
std::vector<uint8_t> BootHead(uint8_t perCluster, std::array<uint8_t, 2> total16, uint8_t perFat,
                              std::array<uint8_t, 4> total32, const char* type) {
    // clang-format off
    std::vector<uint8_t> h = {
        0xEB, 0x3C, 0x90, 'M', 'S', 'D', 'O', 'S', '5', '.', '0', 0x00, 0x02, perCluster,
        0x01, 0x00, 0x02, 0x00, 0x02, total16[0], total16[1], 0xF8, perFat, 0x00,
        0x3F, 0x00, 0xFF, 0x00, 0x3F, 0x00, 0x00, 0x00, total32[0], total32[1], total32[2],
        total32[3], 0x80, 0x00, 0x29, 0x05, 0x8F, 0x93, 0x80,
        'N', 'O', ' ', 'N', 'A', 'M', 'E', ' ', ' ', ' ', ' '};
    // clang-format on
    for (int i = 0; i < 8; ++i) {
        h.push_back(static_cast<uint8_t>(type[i]));
    }
    return h;
}

struct BootCase {
    double area;
    int16_t kind;
    std::vector<uint8_t> head;
};

TEST(WriteBootSector, ByteExactBySize) {
    const BootCase cases[] = {
        // 2,847 sectors, 1 per cluster
        {2880, kFat12, BootHead(1, {0x1F, 0x0B}, 12, {0, 0, 0, 0}, "FAT12   ")},
        // 31,967 sectors, 8 per cluster
        {32000, kFat12, BootHead(8, {0xDF, 0x7C}, 12, {0, 0, 0, 0}, "FAT12   ")},
        // 31,968 sectors in the 16-bit field
        {32001, kFat16, BootHead(1, {0xE0, 0x7C}, 255, {0, 0, 0, 0}, "FAT16   ")},
        // 63,967
        {64000, kFat16, BootHead(1, {0xDF, 0xF9}, 255, {0, 0, 0, 0}, "FAT16   ")},
        // 63,968 in the 32-bit field
        {64001, kFat16, BootHead(2, {0, 0}, 255, {0xE0, 0xF9, 0x00, 0x00}, "FAT16   ")},
        // 499,966 and 499,967
        {499999, kFat16, BootHead(8, {0, 0}, 255, {0xFE, 0xA0, 0x07, 0x00}, "FAT16   ")},
        {500000, kFat16, BootHead(8, {0, 0}, 255, {0xFF, 0xA0, 0x07, 0x00}, "FAT16   ")},
        // 999,967
        {1000000, kFat16, BootHead(16, {0, 0}, 255, {0x1F, 0x42, 0x0F, 0x00}, "FAT16   ")},
        // 4,095,967
        {4096000, kFat16, BootHead(64, {0, 0}, 255, {0xDF, 0x7F, 0x3E, 0x00}, "FAT16   ")},
    };
    for (const BootCase& c : cases) {
        FormatBench b;
        ASSERT_TRUE(WriteBootSector(b.ctx, 1, 1234, c.area, c.kind)) << c.area;
        const auto calls = b.transport.Calls("Write");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args, (std::vector<int64_t>{kHandle, 1, 1234})) << c.area;
        const auto& data = calls[0].data;
        ASSERT_EQ(data.size(), 512u);
        EXPECT_TRUE(BytesAt(data, 0, c.head)) << c.area;
        EXPECT_TRUE(ZeroFrom(data, 62, 510)) << c.area;
        EXPECT_TRUE(BytesAt(data, 510, {0x55, 0xAA})) << c.area;
    }
}

TEST(WriteFatCopies, WriteSequence) {
    // (sector, count) of every write, the first bytes of each copy, the index
    // of the write that starts the second copy, the sector after the FATs.
    struct FatCase {
        int16_t kind;
        std::vector<std::pair<int64_t, int64_t>> writes;
        std::vector<uint8_t> head;
        size_t firstOfSecondCopy;
        int32_t finalSector;
    };
    // clang-format off
    const FatCase cases[] = {
        {kFat16, {{33, 64}, {97, 64}, {161, 64}, {225, 64}, {288, 64}, {352, 64}, {416, 64}, {480, 64}},
         {0xF8, 0xFF, 0xFF, 0xFF}, 4, 544},
        {kFat12, {{33, 12}, {45, 12}}, {0xF8, 0xFF, 0xFF, 0x00}, 1, 57},
    };
    // clang-format on
    for (const FatCase& c : cases) {
        FormatBench b;
        // Leftovers in the buffer must not reach the drive.
        std::fill(b.ctx.replies.ReplyBuffer.begin(), b.ctx.replies.ReplyBuffer.end(), 0x5A);
        int32_t sector = 33;
        ASSERT_TRUE(WriteFatCopies(b.ctx, 1, sector, c.kind));
        EXPECT_EQ(b.Writes(), c.writes);
        EXPECT_EQ(sector, c.finalSector);
        const auto calls = b.transport.Calls("Write");
        for (size_t i = 0; i < calls.size(); ++i) {
            const auto& data = calls[i].data;
            ASSERT_EQ(data.size(), static_cast<size_t>(calls[i].args[1]) * 512);
            const bool startsCopy = i == 0 || i == c.firstOfSecondCopy;
            if (startsCopy) {
                EXPECT_TRUE(BytesAt(data, 0, c.head)) << "write " << i;
            }
            EXPECT_TRUE(ZeroFrom(data, startsCopy ? 4 : 0, data.size())) << "write " << i;
            EXPECT_EQ(calls[i].args[0], kHandle);
        }
    }
}

TEST(WriteRootDirectory, LabelEntry) {
    // Windows-1252 codes; a character without one keeps its blank.
    const std::pair<QString, std::string> cases[] = {
        {"TESTDISK", "TESTDISK   "},        {"DATA", "DATA       "},
        {"ABCDEFGHIJKLMNO", "ABCDEFGHIJK"}, {"", "           "},
        {"usb disk", "usb disk   "},        {QString::fromUtf8("Ün€中!"), "\xDCn\x80 !      "}};
    for (const auto& [label, name] : cases) {
        FormatBench b;
        b.ctx.Product.DiskLabel = label;
        std::fill(b.ctx.replies.ReplyBuffer.begin(), b.ctx.replies.ReplyBuffer.end(), 0x5A);
        ASSERT_TRUE(WriteRootDirectory(b.ctx, 1, 543));
        const auto calls = b.transport.Calls("Write");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args, (std::vector<int64_t>{kHandle, 32, 543}));
        const auto& data = calls[0].data;
        ASSERT_EQ(data.size(), 16384u);
        EXPECT_TRUE(BytesAt(data, 0, {name.begin(), name.end()})) << label.toStdString();
        EXPECT_TRUE(BytesAt(data, 11, {0x08, 0,    0,    0,    0, 0, 0, 0, 0, 0, 0,
                                       0xA8, 0x8B, 0xEA, 0x2C, 0, 0, 0, 0, 0, 0}));
        EXPECT_TRUE(ZeroFrom(data, 32, data.size()));
    }
}

TEST(WriteRootDirectory, AtSector511NoLabel) {
    FormatBench b;
    ASSERT_TRUE(WriteRootDirectory(b.ctx, 1, 511));
    const auto data = b.WrittenAt(511);
    ASSERT_EQ(data.size(), 16384u);
    EXPECT_TRUE(ZeroFrom(data, 0, data.size()));
}

// The templates' bytes reach the drive in every sector written from them:
// the tests above and volume_test hold those sectors byte for byte.
TEST(SectorTemplates, WritingAVolumeLeavesThemUnchanged) {
    FormatBench b;
    b.ctx.Product.FirstShare = 0.5;
    const Sector mbr = b.ctx.MbrTemplate;
    const Sector boot = b.ctx.Fat16BootTemplate;
    ASSERT_EQ(BuildVolume(b.ctx, 1, 500000, 499999), kVolumeBuilt);
    EXPECT_EQ(b.ctx.MbrTemplate, mbr);
    EXPECT_EQ(b.ctx.Fat16BootTemplate, boot);
}

struct HexCase {
    int32_t value;
    int16_t width;
    bool prefix;
    const char* text;
};

TEST(HexPad, Table) {
    // clang-format off
    const HexCase cases[] = {
        {254, 2, false, "FE"}, {5, 8, false, "00000005"}, {0xABCDEF, 1, false, "ABCDEF"},
        {74565, 4, false, "12345"}, // longer than the width: not cut
        {0, 0, false, "0"}, {0, 2, true, "0x00"}, {255, 2, true, "0xFF"}, {0x99, 2, false, "99"},
        {240, 2, false, "F0"}, {10, -3, false, "A"}, {-1, 2, false, "FFFFFFFF"},
        {-2, 0, true, "0xFFFFFFFE"}, {-256, 10, false, "00FFFFFF00"},
        {INT32_MIN, 2, false, "80000000"}, {INT32_MAX, 2, true, "0x7FFFFFFF"}};
    // clang-format on
    for (const HexCase& c : cases) {
        EXPECT_EQ(HexPad(c.value, c.width, c.prefix).toStdString(), c.text)
            << c.value << " width " << c.width;
    }
}

using Hsc = std::array<Calc, 3>; // head, sector, cylinder

TEST(GeometrySearch, EndAddressTable) {
    // clang-format off
    const std::pair<double, std::optional<Hsc>> cases[] = {
        {1000000, Hsc{31, 224, 240}}, // 30 heads would give 1042 cylinders
        {500000, Hsc{16, 224, 209}}, {499999, Hsc{16, 224, 209}},
        {20000, Hsc{2, 96, 56}},      // 312.5 cylinders round to even 312
        {65472, Hsc{2, 224, 255}},    // exactly 1023 cylinders with 2 heads
        {65504, Hsc{3, 160, 170}},    // 1023.5 rounds to 1024: one head more
        {0, Hsc{2, 32, 0}}, {4096000, Hsc{126, 224, 248}},
        {33505295, Hsc{1023, 224, 255}}, // the last size that fits; 1023 heads do not fit a byte
        {-100, Hsc{2, 32, -2}},          // negative cylinders: the byte cannot hold it
        {33505296, std::nullopt}, {1e12, std::nullopt}, // out of heads
        {std::numeric_limits<double>::infinity(), std::nullopt}, {std::nan(""), std::nullopt}};
    // clang-format on
    for (const auto& [sectors, hsc] : cases) {
        const auto g = GeometrySearch(sectors);
        EXPECT_EQ(g ? std::optional(Hsc{g->head, g->sector, g->cylinder}) : std::nullopt, hsc)
            << sectors;
    }
}

TEST(SectorsPerCluster, EachBoundBelongsToItsOwnColumn) {
    const std::pair<double, int> cases[] = {
        {-5, 1},       {0, 1},        {2880, 1},     {2881, 2},     {8192, 2},     {8193, 4},
        {14336, 4},    {14337, 8},    {32000, 8},    {32001, 1},    {64000, 1},    {64001, 2},
        {128000, 2},   {128001, 4},   {256000, 4},   {256001, 8},   {512000, 8},   {512001, 16},
        {1024000, 16}, {1024001, 32}, {2048000, 32}, {2048001, 64}, {4096000, 64}, {4096001, 0}};
    for (const auto& [sectors, perCluster] : cases) {
        EXPECT_EQ(SectorsPerCluster(sectors), perCluster) << sectors;
    }
}

TEST(AreaKind, TypeAndFatKindBySize) {
    struct Case {
        double sectors;
        uint8_t type;
        int16_t kind;
        int32_t fatSectors;
    };
    const Case cases[] = {{2880, 0x01, kFat12, 24},   {32000, 0x01, kFat12, 24},
                          {32001, 0x04, kFat16, 510}, {63999, 0x04, kFat16, 510},
                          {64000, 0x06, kFat16, 510}, {1000000, 0x06, kFat16, 510}};
    for (const Case& c : cases) {
        EXPECT_EQ(FirstAreaType(c.sectors), c.type) << c.sectors;
        EXPECT_EQ(FatKindFor(c.sectors), c.kind) << c.sectors;
        EXPECT_EQ(FatAreaSectors(FatKindFor(c.sectors)), c.fatSectors) << c.sectors;
    }
}

} // namespace
} // namespace ufd::test
