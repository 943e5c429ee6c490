// The command blocks both backends receive, byte for byte.
#include "encoder.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace quorlink {
namespace {

std::vector<uint8_t> block(const Command& c) {
    return {c.cdb.begin(), c.cdb.begin() + c.cdbLength};
}

struct FixedCase {
    const char* name;
    Command command;
    std::vector<uint8_t> cdb;
    Direction direction;
    uint32_t dataLength;
};

TEST(Encoder, FixedBlocks) {
    const FixedCase cases[] = {
        {"test unit ready", encodeTestUnitReady(), {0, 0, 0, 0, 0, 0}, Direction::None, 0},
        {"inquiry", encodeInquiry(), {0x12, 0, 0, 0, 36, 0}, Direction::In, 36},
        {"read capacity 10",
         encodeReadCapacity10(),
         {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         Direction::In,
         8},
        {"read capacity 16",
         encodeReadCapacity16(),
         {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0},
         Direction::In,
         32},
        {"mode sense", encodeModeSense(), {0x1A, 0, 0x3F, 0, 192, 0}, Direction::In, 192},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(block(c.command), c.cdb);
        EXPECT_EQ(c.command.direction, c.direction);
        EXPECT_EQ(c.command.dataLength, c.dataLength);
    }
}

struct TransferCase {
    int64_t first;
    int64_t count;
    bool write;
    std::vector<uint8_t> cdb;
};

TEST(Encoder, TransferBlocks) {
    const TransferCase cases[] = {
        {0, 1, false, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}},
        {0x01020304, 0x0506, false, {0x28, 0, 1, 2, 3, 4, 0, 5, 6, 0}},
        {63, 1, true, {0x2A, 0, 0, 0, 0, 63, 0, 0, 1, 0}},
        {0xFFFFFFFFLL, 1, false, {0x28, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 1, 0}},
        // Last sector past 32 bits: the 16-byte form.
        {0xFFFFFFFFLL, 2, true, {0x8A, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2, 0, 0}},
        // Count past 16 bits: the 16-byte form.
        {8, 0x10000, false, {0x88, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 1, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "first " << c.first << " count " << c.count);
        std::vector<uint8_t> data(static_cast<size_t>(c.count) * kSectorSize, 0x5A);
        const auto cmd =
            c.write ? encodeWrite(c.first, c.count, data) : encodeRead(c.first, c.count);
        ASSERT_TRUE(cmd.has_value());
        EXPECT_EQ(block(*cmd), c.cdb);
        EXPECT_EQ(cmd->direction, c.write ? Direction::Out : Direction::In);
        EXPECT_EQ(cmd->dataLength, c.count * kSectorSize);
        EXPECT_EQ(cmd->commandClass, CommandClass::Transfer);
        if (c.write) {
            EXPECT_EQ(cmd->dataOut.size(), data.size());
            EXPECT_EQ(cmd->dataOut.data(), data.data());
        }
        const auto back = decodeTransfer(block(*cmd));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->write, c.write);
        EXPECT_EQ(back->firstSector, static_cast<uint64_t>(c.first));
        EXPECT_EQ(back->sectorCount, static_cast<uint32_t>(c.count));
    }
}

TEST(Encoder, TransferRefusesRangesNoBlockHolds) {
    std::vector<uint8_t> oneSector(kSectorSize);
    EXPECT_FALSE(encodeRead(-1, 1));
    EXPECT_FALSE(encodeRead(0, 0));
    EXPECT_FALSE(encodeRead(0, -3));
    EXPECT_FALSE(encodeRead(0, int64_t{1} << 32));
    EXPECT_FALSE(encodeWrite(0, 2, oneSector)) << "data shorter than the sectors";
    EXPECT_FALSE(decodeTransfer(block(encodeModeSense())));
}

struct VendorCase {
    VendorForm form;
    int32_t code, chip, unit, parameter, reserved1, reserved2, length;
    std::vector<uint8_t> cdb;
};

TEST(Encoder, VendorBlocks) {
    const VendorCase cases[] = {
        {VendorForm::Read,
         0x75,
         0,
         0,
         0,
         0,
         0,
         512,
         {0xC6, 1, 0x75, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0}},
        {VendorForm::Write,
         0x81,
         0,
         0,
         0,
         0,
         0,
         512,
         {0xC6, 2, 0x81, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0}},
        {VendorForm::ChipUnit,
         0x94,
         0x0102,
         0x0304,
         0,
         0,
         0,
         512,
         {0xC6, 3, 0x94, 1, 2, 3, 4, 0, 0, 0, 2, 0, 0, 0, 0, 0}},
        {VendorForm::Scan,
         0x95,
         3,
         7,
         0x11,
         0x22,
         0x33,
         0x1234,
         {0xC6, 4, 0x95, 0, 3, 0, 7, 0x11, 0x22, 0x33, 0x12, 0x34, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << c.code);
        std::vector<uint8_t> data(static_cast<size_t>(c.length), 0xA5);
        const auto cmd = encodeVendor(c.form, c.code, c.chip, c.unit, c.parameter, c.reserved1,
                                      c.reserved2, c.length, data);
        ASSERT_TRUE(cmd.has_value());
        EXPECT_EQ(block(*cmd), c.cdb);
        EXPECT_EQ(cmd->commandClass, CommandClass::Vendor);
        EXPECT_EQ(cmd->dataLength, static_cast<uint32_t>(c.length));
        const bool write = c.form == VendorForm::Write;
        EXPECT_EQ(cmd->direction, write ? Direction::Out : Direction::In);
        EXPECT_EQ(cmd->dataOut.size(), write ? data.size() : 0U);

        const auto back = decodeVendor(block(*cmd));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->form, c.form);
        EXPECT_EQ(back->code, c.code);
        EXPECT_EQ(back->chip, c.chip);
        EXPECT_EQ(back->unit, c.unit);
        EXPECT_EQ(back->parameter, c.parameter);
        EXPECT_EQ(back->reserved1, c.reserved1);
        EXPECT_EQ(back->reserved2, c.reserved2);
        EXPECT_EQ(back->length, c.length);
    }
}

TEST(Encoder, VendorRefusesArgumentsOutsideTheirFields) {
    std::vector<uint8_t> data(512);
    struct Bad {
        int32_t code, chip, unit, parameter, length;
    };
    const Bad cases[] = {{256, 0, 0, 0, 512},   {-1, 0, 0, 0, 512},
                         {0x94, -1, 0, 0, 512}, {0x94, 0x10000, 0, 0, 512},
                         {0x94, 0, -2, 0, 512}, {0x95, 0, 0, 300, 512},
                         {0x75, 0, 0, 0, 0},    {0x75, 0, 0, 0, 0x10000}};
    for (const auto& b : cases) {
        SCOPED_TRACE(testing::Message() << b.code << " " << b.chip << " " << b.unit << " "
                                        << b.parameter << " " << b.length);
        EXPECT_FALSE(encodeVendor(VendorForm::Scan, b.code, b.chip, b.unit, b.parameter, 0, 0,
                                  b.length, data));
    }
    EXPECT_FALSE(
        encodeVendor(VendorForm::Write, 0x81, 0, 0, 0, 0, 0, 512, std::span(data).first(100)))
        << "write data shorter than length";
    EXPECT_FALSE(decodeVendor(block(encodeInquiry())));
}

} // namespace
} // namespace quorlink
