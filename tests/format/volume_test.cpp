#include "format_bench.h"

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

} // namespace
} // namespace ufd::test
