// The command blocks both backends receive, byte for byte.
#include "encoder.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

namespace quorlink {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes block(const Command& c) {
    return {c.cdb.begin(), c.cdb.begin() + c.cdbLength};
}

TEST(Encoder, FixedBlocks) {
    constexpr auto In = Direction::In;
    const std::tuple<Command, Direction, uint32_t, Bytes> cases[] = {
        {encodeTestUnitReady(), Direction::None, 0, {0, 0, 0, 0, 0, 0}},
        {encodeInquiry(), In, 36, {0x12, 0, 0, 0, 36, 0}},
        {encodeReadCapacity10(), In, 8, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {encodeReadCapacity16(), In, 32, {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}},
        {encodeModeSense(), In, 192, {0x1A, 0, 0x3F, 0, 192, 0}},
        {encodeSynchronizeCache(), Direction::None, 0, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& [command, direction, dataLength, cdb] : cases) {
        EXPECT_EQ(block(command), cdb);
        EXPECT_EQ(command.direction, direction);
        EXPECT_EQ(command.dataLength, dataLength);
    }
}

TEST(Encoder, TransferBlocks) {
    // first sector, count, write?, block
    const std::tuple<int64_t, int64_t, bool, Bytes> cases[] = {
        {0, 1, false, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}},
        {0x01020304, 0x0506, false, {0x28, 0, 1, 2, 3, 4, 0, 5, 6, 0}},
        {63, 1, true, {0x2A, 0, 0, 0, 0, 63, 0, 0, 1, 0}},
        {0xFFFFFFFFLL, 1, false, {0x28, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 1, 0}},
        // Last sector past 32 bits, or count past 16 bits: the 16-byte forms.
        {0xFFFFFFFFLL, 2, true, {0x8A, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2, 0, 0}},
        {8, 0x10000, false, {0x88, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 1, 0, 0, 0, 0}},
    };
    for (const auto& [first, count, write, cdb] : cases) {
        SCOPED_TRACE(testing::Message() << "first " << first << " count " << count);
        std::vector<uint8_t> data(static_cast<size_t>(count) * kSectorSize, 0x5A);
        const auto cmd = write ? encodeWrite(first, count, data) : encodeRead(first, count);
        ASSERT_TRUE(cmd.has_value());
        EXPECT_EQ(block(*cmd), cdb);
        EXPECT_EQ(cmd->direction, write ? Direction::Out : Direction::In);
        EXPECT_EQ(cmd->dataLength, count * kSectorSize);
        EXPECT_EQ(cmd->commandClass, CommandClass::Transfer);
        EXPECT_EQ(cmd->dataOut.data(), write ? data.data() : nullptr);
    }
    std::vector<uint8_t> oneSector(kSectorSize);
    EXPECT_FALSE(encodeRead(-1, 1));
    EXPECT_FALSE(encodeRead(0, 0));
    EXPECT_FALSE(encodeRead(0, int64_t{1} << 32));
    EXPECT_FALSE(encodeWrite(0, 2, oneSector)) << "data shorter than the sectors";
    EXPECT_FALSE(decodeTransfer(block(encodeModeSense())));
}

TEST(Encoder, VendorBlocks) {
    // form; code, chip, unit, parameter, reserved1, reserved2, length; block
    const std::tuple<VendorForm, std::vector<int32_t>, Bytes> cases[] = {
        {VendorForm::Read, {0x75, 0, 0, 0, 0, 0, 512}, {0xC6, 1, 0x75, 0, 0, 0, 0, 0, 0, 0, 2, 0}},
        {VendorForm::Write, {0x81, 0, 0, 0, 0, 0, 512}, {0xC6, 2, 0x81, 0, 0, 0, 0, 0, 0, 0, 2, 0}},
        {VendorForm::ChipUnit,
         {0x94, 0x0102, 0x0304, 0, 0, 0, 512},
         {0xC6, 3, 0x94, 1, 2, 3, 4, 0, 0, 0, 2, 0}},
        {VendorForm::Scan,
         {0x95, 3, 7, 0x11, 0x22, 0x33, 0x1234},
         {0xC6, 4, 0x95, 0, 3, 0, 7, 0x11, 0x22, 0x33, 0x12, 0x34}},
    };
    for (const auto& [form, a, cdb] : cases) {
        std::vector<uint8_t> data(static_cast<size_t>(a[6]), 0xA5);
        const auto cmd = encodeVendor(form, a[0], a[1], a[2], a[3], a[4], a[5], a[6], data);
        ASSERT_TRUE(cmd.has_value());
        Bytes expected = cdb;
        expected.resize(16, 0);
        EXPECT_EQ(block(*cmd), expected);
        EXPECT_EQ(cmd->commandClass, CommandClass::Vendor);
        EXPECT_EQ(cmd->dataLength, static_cast<uint32_t>(a[6]));
        const bool write = form == VendorForm::Write;
        EXPECT_EQ(cmd->direction, write ? Direction::Out : Direction::In);
        EXPECT_EQ(cmd->dataOut.size(), write ? data.size() : 0U);
    }
}

TEST(Encoder, VendorRefusesArgumentsOutsideTheirFields) {
    std::vector<uint8_t> data(512);
    // code, chip, unit, parameter, length
    const int32_t cases[][5] = {{256, 0, 0, 0, 512},   {-1, 0, 0, 0, 512},
                                {0x94, -1, 0, 0, 512}, {0x94, 0x10000, 0, 0, 512},
                                {0x94, 0, -2, 0, 512}, {0x95, 0, 0, 300, 512},
                                {0x75, 0, 0, 0, 0},    {0x75, 0, 0, 0, 0x10000}};
    for (const auto& b : cases) {
        EXPECT_FALSE(encodeVendor(VendorForm::Scan, b[0], b[1], b[2], b[3], 0, 0, b[4], data))
            << b[0] << " " << b[1] << " " << b[2] << " " << b[3] << " " << b[4];
    }
    EXPECT_FALSE(
        encodeVendor(VendorForm::Write, 0x81, 0, 0, 0, 0, 0, 512, std::span(data).first(100)))
        << "write data shorter than length";
    EXPECT_FALSE(decodeVendor(block(encodeInquiry())));
}

// [VendorBlock] moves the fields; the documented layout is the default.
TEST(Encoder, VendorLayouts) {
    const VendorLayout other{.opcode = 0xF0,
                             .length = 12,
                             .form = {1, 1, true},
                             .code = {4, 1, true},
                             .chip = {2, 2, false},
                             .unit = {5, 4, true},
                             .parameter = {0, 0, true},
                             .reserved1 = {9, 1, true},
                             .reserved2 = {0, 0, true},
                             .dataLength = {10, 2, false}};
    // code, chip, unit, parameter, reserved1, reserved2, length
    const std::vector<int32_t> scan = {0x95, 0x0102, 0x0304, 0x11, 0x22, 0x33, 0x1234};
    const std::tuple<VendorLayout, Bytes> cases[] = {
        {VendorLayout{}, {0xC6, 4, 0x95, 1, 2, 3, 4, 0x11, 0x22, 0x33, 0x12, 0x34, 0, 0, 0, 0}},
        {other, {0xF0, 4, 0x02, 0x01, 0x95, 0, 0, 3, 4, 0x22, 0x34, 0x12}},
    };
    for (const auto& [layout, cdb] : cases) {
        const auto& a = scan;
        const auto cmd =
            encodeVendor(layout, VendorForm::Scan, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
        ASSERT_TRUE(cmd.has_value());
        EXPECT_EQ(block(*cmd), cdb);
        const auto back = decodeVendor(block(*cmd), layout);
        ASSERT_TRUE(back.has_value());
        const auto again =
            encodeVendor(layout, back->form, back->code, back->chip, back->unit, back->parameter,
                         back->reserved1, back->reserved2, back->length);
        ASSERT_TRUE(again.has_value());
        EXPECT_EQ(block(*again), cdb) << "decoded as it was encoded";
    }
    const VendorLayout narrow{.chip = {3, 1, true}};
    EXPECT_FALSE(encodeVendor(narrow, VendorForm::ChipUnit, 0x94, 0x100, 0, 0, 0, 0, 512))
        << "a chip beyond the one byte the layout gives it";
    EXPECT_FALSE(
        decodeVendor(block(*encodeVendor(VendorForm::Read, 0x75, 0, 0, 0, 0, 0, 512)), other));
    EXPECT_EQ(describeVendorBlock({}, {VendorForm::Read, 0x75, 0, 0, 0, 0, 0, 512}),
              "C6 01 75 00 00 00 00 00 00 00 02 00 00 00 00 00");
}

} // namespace
} // namespace quorlink
