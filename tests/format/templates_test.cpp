#include "format_bench.h"

namespace ufd::test {
namespace {

// The templates' bytes reach the drive in every sector written from them:
// boot_sector_test and volume_test hold those sectors byte for byte.
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

} // namespace
} // namespace ufd::test
