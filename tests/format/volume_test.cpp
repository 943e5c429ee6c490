#include "format_bench.h"

#include <cmath>

namespace ufd::test {
namespace {

using Writes = std::vector<std::pair<int64_t, int64_t>>;

std::vector<uint8_t> Entry(std::vector<uint8_t> bytes) {
    return bytes;
}

TEST(BuildVolume, OneAreaOfAMillionSectors) {
    FormatBench b;
    ASSERT_EQ(BuildVolume(b.ctx, 1, 1000000, 0), kVolumeBuilt);

    const auto mbr = b.WrittenAt(0);
    ASSERT_EQ(mbr.size(), 512u);
    EXPECT_TRUE(ZeroFrom(mbr, 0, 440));
    EXPECT_TRUE(BytesAt(mbr, 440, {0x4D, 0xB9, 0x2A, 0x67, 0, 0}));
    EXPECT_TRUE(BytesAt(mbr, 446,
                        Entry({0x80, 0x01, 0x01, 0x00, 0x06, 0x1F, 0xE0, 0xF0, 0x20, 0x00, 0x00,
                               0x00, 0x1F, 0x42, 0x0F, 0x00})));
    EXPECT_TRUE(ZeroFrom(mbr, 462, 510));
    EXPECT_TRUE(BytesAt(mbr, 510, {0x55, 0xAA}));

    const auto boot = b.WrittenAt(32);
    ASSERT_EQ(boot.size(), 512u);
    EXPECT_TRUE(BytesAt(boot, 0, {0xEB, 0x3C, 0x90, 'M',  'S',  'D',  'O',  'S',  '5',  '.',  '0',
                                  0x00, 0x02, 0x10, 0x01, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 0xF8,
                                  0xFF, 0x00, 0x3F, 0x00, 0xFF, 0x00, 0x3F, 0x00, 0x00, 0x00, 0x1F,
                                  0x42, 0x0F, 0x00, 0x80, 0x00, 0x29, 0x05, 0x8F, 0x93, 0x80, 'N',
                                  'O',  ' ',  'N',  'A',  'M',  'E',  ' ',  ' ',  ' ',  ' ',  'F',
                                  'A',  'T',  '1',  '6',  ' ',  ' ',  ' '}));

    EXPECT_EQ(b.Writes(), (Writes{{0, 1},
                                  {32, 1},
                                  {33, 64},
                                  {97, 64},
                                  {161, 64},
                                  {225, 64},
                                  {288, 64},
                                  {352, 64},
                                  {416, 64},
                                  {480, 64},
                                  {543, 32}}));
    const auto label = b.WrittenAt(543);
    EXPECT_TRUE(BytesAt(label, 0, {'T', 'E', 'S', 'T', 'D', 'I', 'S', 'K', ' ', ' ', ' ', 0x08}));

    // The boundary block comes last and says 0: no second area.
    ASSERT_EQ(b.transport.calls.back().fn, "VendorW");
    EXPECT_EQ(b.transport.calls.back().args, (std::vector<int64_t>{kHandle, 0x99, 512}));
    EXPECT_TRUE(ZeroFrom(b.transport.calls.back().data, 0, 512));
    EXPECT_EQ(b.transport.calls.size(), 12u);
}

TEST(BuildVolume, TwoAreasOfHalfAMillion) {
    FormatBench b;
    b.ctx.Product.FirstShare = 0.5;
    ASSERT_EQ(BuildVolume(b.ctx, 1, 500000, 499999), kVolumeBuilt);

    const auto mbr = b.WrittenAt(0);
    EXPECT_TRUE(BytesAt(mbr, 440, {0x4D, 0xB9, 0x2A, 0x67, 0, 0}));
    EXPECT_TRUE(BytesAt(mbr, 446,
                        Entry({0x80, 0x01, 0x01, 0x00, 0x06, 0x10, 0xE0, 0xD1, 0x20, 0x00, 0x00,
                               0x00, 0xFF, 0xA0, 0x07, 0x00})));
    // Extended entry: its end cylinder 0xD1 + 0xD1 exceeds a byte and stays 0.
    EXPECT_TRUE(BytesAt(mbr, 462,
                        Entry({0x00, 0x00, 0x01, 0xD1, 0x05, 0x10, 0xE0, 0x00, 0x1F, 0xA1, 0x07,
                               0x00, 0x1E, 0xA1, 0x07, 0x00})));
    EXPECT_TRUE(ZeroFrom(mbr, 478, 510));
    EXPECT_TRUE(BytesAt(mbr, 510, {0x55, 0xAA}));

    const auto ebr = b.WrittenAt(499999);
    ASSERT_EQ(ebr.size(), 512u);
    EXPECT_TRUE(ZeroFrom(ebr, 0, 446));
    EXPECT_TRUE(BytesAt(ebr, 446,
                        Entry({0x80, 0x01, 0x01, 0x00, 0x06, 0x10, 0xE0, 0xD1, 0x20, 0x00, 0x00,
                               0x00, 0xFE, 0xA0, 0x07, 0x00})));
    EXPECT_TRUE(ZeroFrom(ebr, 462, 510));
    EXPECT_TRUE(BytesAt(ebr, 510, {0x55, 0xAA}));

    const std::vector<uint8_t> common = {0xEB, 0x3C, 0x90, 'M', 'S',  'D',  'O',
                                         'S',  '5',  '.',  '0', 0x00, 0x02, 0x08};
    const auto boot1 = b.WrittenAt(32);
    const auto boot2 = b.WrittenAt(500031);
    EXPECT_TRUE(BytesAt(boot1, 0, common));
    EXPECT_TRUE(BytesAt(boot2, 0, common));
    EXPECT_TRUE(BytesAt(boot1, 19, {0x00, 0x00, 0xF8, 0xFF, 0x00}));
    EXPECT_TRUE(BytesAt(boot2, 19, {0x00, 0x00, 0xF8, 0xFF, 0x00}));
    EXPECT_TRUE(BytesAt(boot1, 32, {0xFF, 0xA0, 0x07, 0x00})); // 499,967
    EXPECT_TRUE(BytesAt(boot2, 32, {0xFE, 0xA0, 0x07, 0x00})); // 499,966
    EXPECT_TRUE(BytesAt(boot2, 54, {'F', 'A', 'T', '1', '6', ' ', ' ', ' '}));

    EXPECT_EQ(
        b.Writes(),
        (Writes{{0, 1},       {32, 1},      {33, 64},     {97, 64},     {161, 64},    {225, 64},
                {288, 64},    {352, 64},    {416, 64},    {480, 64},    {543, 32},    {499999, 1},
                {500031, 1},  {500032, 64}, {500096, 64}, {500160, 64}, {500224, 64}, {500287, 64},
                {500351, 64}, {500415, 64}, {500479, 64}, {500542, 32}}));
    EXPECT_TRUE(BytesAt(b.WrittenAt(500542), 0,
                        {'T', 'E', 'S', 'T', 'D', 'I', 'S', 'K', ' ', ' ', ' ', 0x08}));

    const Call& last = b.transport.calls.back();
    ASSERT_EQ(last.fn, "VendorW");
    EXPECT_EQ(last.args, (std::vector<int64_t>{kHandle, 0x99, 512}));
    EXPECT_TRUE(BytesAt(last.data, 0, {0x1F, 0xA1, 0x07, 0x00})); // 499,999
    EXPECT_TRUE(ZeroFrom(last.data, 4, 512));
}

TEST(BuildVolume, TwoFat12Areas) {
    FormatBench b;
    b.ctx.Product.FirstShare = 0.6;
    ASSERT_EQ(BuildVolume(b.ctx, 1, 20000, 10000), kVolumeBuilt);
    EXPECT_EQ(b.Writes(), (Writes{{0, 1},
                                  {32, 1},
                                  {33, 12},
                                  {45, 12},
                                  {57, 32},
                                  {19999, 1},
                                  {20031, 1},
                                  {20032, 12},
                                  {20044, 12},
                                  {20056, 32}}));
    // 20,000 sectors: 312.5 cylinders round to 312 with 2 heads.
    EXPECT_TRUE(BytesAt(b.WrittenAt(0), 446,
                        Entry({0x80, 0x01, 0x01, 0x00, 0x01, 0x02, 0x60, 0x38, 0x20, 0x00, 0x00,
                               0x00, 0xFF, 0x4D, 0x00, 0x00})));
    // 10,000 sectors: 156.25 -> 156 cylinders; 0x38 + 0x9C = 0xD4.
    EXPECT_TRUE(BytesAt(b.WrittenAt(0), 462,
                        Entry({0x00, 0x00, 0x01, 0x38, 0x05, 0x02, 0x20, 0xD4, 0x1F, 0x4E, 0x00,
                               0x00, 0x0F, 0x27, 0x00, 0x00})));
    // The FAT12 partition counts one sector more (9,968) than its file
    // system (9,967).
    EXPECT_TRUE(BytesAt(b.WrittenAt(19999), 446,
                        Entry({0x80, 0x01, 0x01, 0x00, 0x06, 0x02, 0x20, 0x9C, 0x20, 0x00, 0x00,
                               0x00, 0xF0, 0x26, 0x00, 0x00})));
    EXPECT_TRUE(BytesAt(b.WrittenAt(20031), 19, {0xEF, 0x26, 0xF8, 0x0C, 0x00}));
    EXPECT_TRUE(BytesAt(b.WrittenAt(20031), 13, {0x04}));
    EXPECT_TRUE(BytesAt(b.WrittenAt(20032), 0, {0xF8, 0xFF, 0xFF, 0x00}));
    EXPECT_TRUE(BytesAt(b.WrittenAt(20044), 0, {0xF8, 0xFF, 0xFF, 0x00}));
    EXPECT_TRUE(BytesAt(b.transport.calls.back().data, 0, {0x1F, 0x4E, 0x00, 0x00}));
}

TEST(BuildVolume, PartitionTypeBySize) {
    const std::pair<double, uint8_t> cases[] = {
        {32000, 0x01}, {32001, 0x04}, {63999, 0x04}, {64000, 0x06}};
    for (const auto& [area, type] : cases) {
        FormatBench b;
        ASSERT_EQ(BuildVolume(b.ctx, 1, area, 0), kVolumeBuilt);
        EXPECT_EQ(b.WrittenAt(0).at(446 + 4), type) << area;
    }
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

TEST(BuildVolume, FieldsThatDoNotFitStayZero) {
    FormatBench b;
    // A drive whose capacity read as 1: both areas 0. The count F - 33 is
    // negative and stays 0; everything still goes out.
    ASSERT_EQ(BuildVolume(b.ctx, 1, 0, 0), kVolumeBuilt);
    EXPECT_TRUE(BytesAt(b.WrittenAt(0), 446,
                        Entry({0x80, 0x01, 0x01, 0x00, 0x01, 0x02, 0x20, 0x00, 0x20, 0x00, 0x00,
                               0x00, 0x00, 0x00, 0x00, 0x00})));
    EXPECT_EQ(b.Writes().size(), 5u);
}

struct FailCase {
    size_t failingCall; // counting from 1
    int16_t code;
};

TEST(BuildVolume, FailureCodeByFailingWrite) {
    const FailCase cases[] = {
        {1, 240},  {2, 241},  {3, 242},  {6, 242},  {10, 242}, {11, 243},
        {12, 255}, {13, 241}, {14, 242}, {21, 242}, {22, 243}, {23, 0x99},
    };
    for (const FailCase& c : cases) {
        FormatBench b;
        b.ctx.Product.FirstShare = 0.5;
        b.FailFromCall(c.failingCall);
        EXPECT_EQ(BuildVolume(b.ctx, 1, 500000, 499999), c.code) << c.failingCall;
        // Nothing after the failing call.
        EXPECT_EQ(b.transport.calls.size(), c.failingCall);
    }
}

TEST(BuildVolume, Fat12FailureCodes) {
    const FailCase cases[] = {{1, 240}, {2, 241}, {3, 242}, {4, 242}, {5, 243}, {6, 0x99}};
    for (const FailCase& c : cases) {
        FormatBench b;
        b.FailFromCall(c.failingCall);
        EXPECT_EQ(BuildVolume(b.ctx, 1, 20000, 0), c.code) << c.failingCall;
        EXPECT_EQ(b.transport.calls.size(), c.failingCall);
    }
}

TEST(BuildVolume, FailingFirstRootDirectoryWritesNoSecondArea) {
    FormatBench b;
    b.ctx.Product.FirstShare = 0.5;
    b.transport.script = [](const Call& c) {
        return Answer{uint16_t(c.fn == "Write" && c.args[2] == 543 ? 0 : 1), {}, {}};
    };
    EXPECT_EQ(BuildVolume(b.ctx, 1, 500000, 499999), 243);
    for (const auto& [sector, count] : b.Writes()) {
        EXPECT_LE(sector, 543);
    }
    EXPECT_TRUE(b.transport.Calls("VendorW").empty());
}

TEST(BuildVolume, RefusedBoundaryBlock) {
    FormatBench b;
    b.transport.script = [](const Call& c) {
        return Answer{uint16_t(c.fn == "VendorW" ? 0 : 1), {}, {}};
    };
    EXPECT_EQ(BuildVolume(b.ctx, 1, 1000000, 0), 0x99);
    EXPECT_EQ(b.Writes().size(), 11u);
}

TEST(BuildVolume, AreasTooLargeWriteNothing) {
    const std::pair<double, double> cases[] = {
        {4096001, 0},
        {100000, 4096001},
        {33505296, 0},
        {1e15, 1e15},
        {-5e6, 0},
        {std::nan(""), 0},
        {100000, std::numeric_limits<double>::infinity()},
    };
    for (const auto& [first, second] : cases) {
        FormatBench b;
        b.ctx.Product.FirstShare = 0.5;
        EXPECT_EQ(BuildVolume(b.ctx, 1, first, second), kAreaTooLarge) << first << " " << second;
        EXPECT_TRUE(b.transport.calls.empty());
    }
}

TEST(BuildVolume, LargestAreasAreWritten) {
    FormatBench b;
    b.ctx.Product.FirstShare = 0.5;
    ASSERT_EQ(BuildVolume(b.ctx, 1, 4096000, 4096000), kVolumeBuilt);
    EXPECT_EQ(b.WrittenAt(32).at(13), 64);
    EXPECT_EQ(b.WrittenAt(4095999 + 32).at(13), 64);
}

TEST(BuildVolume, SlotWithoutRecord) {
    FormatBench b;
    EXPECT_EQ(BuildVolume(b.ctx, 0, 100000, 0), 240);
    EXPECT_EQ(BuildVolume(b.ctx, 17, 100000, 0), 240);
    EXPECT_TRUE(b.transport.calls.empty());
}

TEST(BuildVolume, UsesTheSlotsOwnHandle) {
    FormatBench b;
    b.ctx.slots.DiskSlots[2].Handle = 33;
    b.ctx.slots.DiskCount = 3;
    ASSERT_EQ(BuildVolume(b.ctx, 3, 20000, 0), kVolumeBuilt);
    for (const Call& c : b.transport.calls) {
        EXPECT_EQ(c.args[0], 33) << c.fn;
    }
}

} // namespace
} // namespace ufd::test
