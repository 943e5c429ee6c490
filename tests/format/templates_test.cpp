#include "format_bench.h"

namespace ufd::test {
namespace {

std::vector<uint8_t> Bytes(const Sector& s) {
    return {s.begin(), s.end()};
}

TEST(SectorTemplates, MasterBootRecordHasOnlySignatures) {
    FormatBench b;
    const auto mbr = Bytes(b.ctx.MbrTemplate);
    EXPECT_TRUE(ZeroFrom(mbr, 0, 440));
    EXPECT_TRUE(BytesAt(mbr, 440, {0x4D, 0xB9, 0x2A, 0x67, 0x00, 0x00}));
    EXPECT_TRUE(ZeroFrom(mbr, 446, 510));
    EXPECT_TRUE(BytesAt(mbr, 510, {0x55, 0xAA}));
}

TEST(SectorTemplates, Fat16BootSectorFields) {
    FormatBench b;
    const auto boot = Bytes(b.ctx.Fat16BootTemplate);
    const std::vector<uint8_t> head = {
        0xEB, 0x3C, 0x90,                           // jump, no-op
        'M',  'S',  'D',  'O',  'S', '5', '.', '0', // OEM name
        0x00, 0x02,                                 // 512 bytes per sector
        0x02,                                       // sectors per cluster
        0x01, 0x00,                                 // reserved sectors
        0x02,                                       // FATs
        0x00, 0x02,                                 // root entries
        0x00, 0x00,                                 // total sectors (16-bit)
        0xF8,                                       // media
        0xFF, 0x00,                                 // sectors per FAT
        0x3F, 0x00,                                 // sectors per track
        0xFF, 0x00,                                 // heads
        0x3F, 0x00, 0x00, 0x00,                     // hidden sectors
        0xE0, 0xFF, 0x01, 0x00,                     // total sectors (32-bit)
        0x80, 0x00, 0x29,                           // drive, reserved, signature
        0x05, 0x8F, 0x93, 0x80,                     // serial
        'N',  'O',  ' ',  'N',  'A', 'M', 'E', ' ', ' ', ' ',
        ' ',  'F',  'A',  'T',  '1', '6', ' ', ' ', ' ',
    };
    ASSERT_EQ(head.size(), 62u);
    EXPECT_TRUE(BytesAt(boot, 0, head));
    EXPECT_TRUE(ZeroFrom(boot, 62, 510));
    EXPECT_TRUE(BytesAt(boot, 510, {0x55, 0xAA}));
}

TEST(SectorTemplates, RebuildingGivesTheSameImages) {
    FormatBench b;
    const Sector mbr = b.ctx.MbrTemplate;
    const Sector boot = b.ctx.Fat16BootTemplate;
    b.ctx.MbrTemplate.fill(0xCC);
    b.ctx.Fat16BootTemplate.fill(0xCC);
    BuildSectorTemplates(b.ctx);
    EXPECT_EQ(b.ctx.MbrTemplate, mbr);
    EXPECT_EQ(b.ctx.Fat16BootTemplate, boot);
}

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
    const HexCase cases[] = {
        {254, 2, false, "FE"},
        {5, 8, false, "00000005"},
        {74565, 4, false, "12345"}, // longer than the width: not cut
        {0xABCDEF, 1, false, "ABCDEF"},
        {0, 0, false, "0"},
        {0, 2, true, "0x00"},
        {255, 2, true, "0xFF"},
        {0x99, 2, false, "99"},
        {240, 2, false, "F0"},
        {10, -3, false, "A"},
        {-1, 2, false, "FFFFFFFF"},
        {-2, 0, true, "0xFFFFFFFE"},
        {-256, 10, false, "00FFFFFF00"},
        {INT32_MIN, 2, false, "80000000"},
        {INT32_MAX, 2, true, "0x7FFFFFFF"},
    };
    for (const HexCase& c : cases) {
        EXPECT_EQ(HexPad(c.value, c.width, c.prefix).toStdString(), c.text)
            << c.value << " width " << c.width;
    }
}

} // namespace
} // namespace ufd::test
