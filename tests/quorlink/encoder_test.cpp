// The command blocks both backends receive, byte for byte.
#include "encoder.h"
#include "support/test_common.h"

namespace quorlink {
namespace {

using Bytes = std::vector<uint8_t>;
using enum Direction;
using enum CommandClass;
using enum VendorForm;

Bytes block(const Command& c) {
    return {c.cdb.begin(), c.cdb.begin() + c.cdbLength};
}

// Everything a backend acts on: block, data phase, timeout class, the caller's bytes sent.
using Seen = std::tuple<Bytes, Direction, uint32_t, CommandClass, const uint8_t*, size_t>;

TEST(Encoder, Blocks) {
    const Bytes data(1024, 0x5A);
    const uint8_t* d = data.data();
    // clang-format off
    const std::tuple<std::optional<Command>, Seen> cases[] = {
        {encodeInquiry(), {{0x12, 0, 0, 0, 36, 0}, In, 36, Quick, nullptr, 0}},
        {encodeReadCapacity10(), {{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, In, 8, Quick, nullptr, 0}},
        {encodeReadCapacity16(), {{0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, In, 32, Quick, nullptr, 0}},
        {encodeModeSense(), {{0x1A, 0, 0x3F, 0, 192, 0}, In, 192, Quick, nullptr, 0}},
        {encodeSynchronizeCache(), {{0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, None, 0, Transfer, nullptr, 0}},
        {encodeRead(0x01020304, 0x0506), {{0x28, 0, 1, 2, 3, 4, 0, 5, 6, 0}, In, 0x0506 * 512, Transfer, nullptr, 0}},
        {encodeWrite(63, 1, data), {{0x2A, 0, 0, 0, 0, 63, 0, 0, 1, 0}, Out, 512, Transfer, d, 512}},
        {encodeRead(0xFFFFFFFF, 1), {{0x28, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 1, 0}, In, 512, Transfer, nullptr, 0}},
        // Last sector past 32 bits, or count past 16 bits: the 16-byte forms.
        {encodeWrite(0xFFFFFFFF, 2, data), {{0x8A, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2, 0, 0}, Out, 1024, Transfer, d, 1024}},
        {encodeRead(8, 0x10000), {{0x88, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 1, 0, 0, 0, 0}, In, 0x2000000, Transfer, nullptr, 0}},
        {encodeVendor({}, Read, 0x75, 0, 0, 0, 0, 0, 512, data), {{0xC6, 1, 0x75, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0}, In, 512, Vendor, nullptr, 0}},
        {encodeVendor({}, Write, 0x81, 0, 0, 0, 0, 0, 512, data), {{0xC6, 2, 0x81, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0}, Out, 512, Vendor, d, 512}},
        {encodeVendor({}, ChipUnit, 0x94, 0x0102, 0x0304, 0, 0, 0, 512), {{0xC6, 3, 0x94, 1, 2, 3, 4, 0, 0, 0, 2, 0, 0, 0, 0, 0}, In, 512, Vendor, nullptr, 0}},
    };
    // clang-format on
    for (const auto& [c, seen] : cases) {
        const Command& m = c.value();
        EXPECT_EQ(Seen(block(m), m.direction, m.dataLength, m.commandClass, m.dataOut.data(),
                       m.dataOut.size()),
                  seen);
    }
}

TEST(Encoder, RefusesWhatNoBlockHolds) {
    const Bytes data(512);
    // code, chip, unit, parameter, length: each out of its field's range
    const int scans[][5] = {{256, 0, 0, 0, 512},   {-1, 0, 0, 0, 512},
                            {0x94, -1, 0, 0, 512}, {0x94, 0x10000, 0, 0, 512},
                            {0x94, 0, -2, 0, 512}, {0x95, 0, 0, 300, 512},
                            {0x75, 0, 0, 0, 0},    {0x75, 0, 0, 0, 0x10000}};
    for (const auto& [code, chip, unit, parameter, length] : scans) {
        EXPECT_FALSE(encodeVendor({}, Scan, code, chip, unit, parameter, 0, 0, length))
            << code << chip;
    }
    // Data shorter than the sectors or the length; a chip that does not fit its 1 byte.
    EXPECT_FALSE(encodeRead(-1, 1) || encodeRead(0, 0) || encodeRead(0, int64_t{1} << 32) ||
                 encodeWrite(0, 2, data) ||
                 encodeVendor({}, Write, 0x81, 0, 0, 0, 0, 0, 512, std::span(data).first(100)) ||
                 encodeVendor({.chip = {3, 1, true}}, ChipUnit, 0x94, 0x100, 0, 0, 0, 0, 512));
}

// [VendorBlock] moves the fields; the documented layout is the default.
TEST(Encoder, VendorLayouts) {
    // Moved, narrowed, little-endian fields; no parameter byte, one reserved byte.
    const VendorLayout other{
        0xF0,         12,           {1, 1, true}, {4, 1, true}, {2, 2, false},
        {5, 4, true}, {0, 0, true}, {9, 1, true}, {0, 0, true}, {10, 2, false}};
    const std::tuple<VendorLayout, Bytes> cases[] = {
        {VendorLayout{}, {0xC6, 4, 0x95, 1, 2, 3, 4, 0x11, 0x22, 0x33, 0x12, 0x34, 0, 0, 0, 0}},
        {other, {0xF0, 4, 0x02, 0x01, 0x95, 0, 0, 3, 4, 0x22, 0x34, 0x12}}};
    for (const auto& [layout, cdb] : cases) {
        const auto cmd = encodeVendor(layout, Scan, 0x95, 0x0102, 0x0304, 0x11, 0x22, 0x33, 0x1234);
        EXPECT_EQ(block(cmd.value()), cdb);
        const auto b = decodeVendor(block(*cmd), layout).value();
        const auto again = encodeVendor(layout, b.form, b.code, b.chip, b.unit, b.parameter,
                                        b.reserved1, b.reserved2, b.length);
        EXPECT_EQ(block(again.value()), cdb) << "decoded as it was encoded";
    }
    EXPECT_FALSE(decodeVendor(block(*encodeVendor({}, Read, 0x75, 0, 0, 0, 0, 0, 512)), other));
}

} // namespace
} // namespace quorlink
