#include "format/fat_writers.h"
#include "format/geometry.h"
#include "format/partition_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace ufd {
namespace {

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
} // namespace ufd
