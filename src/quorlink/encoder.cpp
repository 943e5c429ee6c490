#include "encoder.h"

#include <array>
#include <utility>

namespace quorlink {
namespace {

void putBe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void putBe32(uint8_t* p, uint32_t v) {
    putBe16(p, v >> 16);
    putBe16(p + 2, v & 0xFFFF);
}

void putBe64(uint8_t* p, uint64_t v) {
    putBe32(p, static_cast<uint32_t>(v >> 32));
    putBe32(p + 4, static_cast<uint32_t>(v));
}

uint32_t be16(const uint8_t* p) {
    return (uint32_t{p[0]} << 8) | p[1];
}
uint32_t be32(const uint8_t* p) {
    return (be16(p) << 16) | be16(p + 2);
}
uint64_t be64(const uint8_t* p) {
    return (uint64_t{be32(p)} << 32) | be32(p + 4);
}

Command make(std::initializer_list<uint8_t> bytes, uint8_t length, Direction dir,
             uint32_t dataLength, CommandClass cls) {
    Command c;
    size_t i = 0;
    for (uint8_t b : bytes) {
        c.cdb[i++] = b;
    }
    c.cdbLength = length;
    c.direction = dir;
    c.dataLength = dataLength;
    c.commandClass = cls;
    return c;
}

std::optional<Command> transfer(bool write, int64_t first, int64_t count) {
    if (first < 0 || count <= 0 || count > 0xFFFFFFFFLL ||
        static_cast<uint64_t>(count) * kSectorSize > 0xFFFFFFFFULL) {
        return std::nullopt;
    }
    Command c;
    c.direction = write ? Direction::Out : Direction::In;
    c.dataLength = static_cast<uint32_t>(count) * kSectorSize;
    c.commandClass = CommandClass::Transfer;
    const auto last = static_cast<uint64_t>(first) + static_cast<uint64_t>(count) - 1;
    if (last <= 0xFFFFFFFFULL && count <= 0xFFFF) {
        c.cdb[0] = write ? 0x2A : 0x28;
        putBe32(&c.cdb[2], static_cast<uint32_t>(first));
        putBe16(&c.cdb[7], static_cast<uint32_t>(count));
        c.cdbLength = 10;
    } else {
        c.cdb[0] = write ? 0x8A : 0x88;
        putBe64(&c.cdb[2], static_cast<uint64_t>(first));
        putBe32(&c.cdb[10], static_cast<uint32_t>(count));
        c.cdbLength = 16;
    }
    return c;
}

// One field of a vendor block; false when the value needs more bytes than
// the field has (a field the layout leaves out takes any value).
bool putField(std::array<uint8_t, 16>& cdb, const VendorField& f, uint32_t value) {
    if (f.width == 0) {
        return true;
    }
    if (f.width < 4 && value >> (8 * f.width) != 0) {
        return false;
    }
    for (uint8_t i = 0; i < f.width; ++i) {
        const uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
        cdb[f.offset + (f.bigEndian ? f.width - 1 - i : i)] = byte;
    }
    return true;
}

uint32_t field(std::span<const uint8_t> cdb, const VendorField& f) {
    uint32_t value = 0;
    if (f.offset + f.width > cdb.size()) {
        return 0;
    }
    for (uint8_t i = 0; i < f.width; ++i) {
        const uint8_t byte = cdb[f.offset + (f.bigEndian ? i : f.width - 1 - i)];
        value = (value << 8) | byte;
    }
    return value;
}

// The layout is checked when quorlink.conf is read; the block is checked
// again here so a layout built in code cannot write past the block.
bool placeVendor(const VendorLayout& layout, const VendorRequest& r, std::array<uint8_t, 16>& cdb) {
    const std::pair<const VendorField*, uint32_t> fields[] = {
        {&layout.form, static_cast<uint32_t>(r.form)},
        {&layout.code, r.code},
        {&layout.chip, r.chip},
        {&layout.unit, r.unit},
        {&layout.parameter, r.parameter},
        {&layout.reserved1, r.reserved1},
        {&layout.reserved2, r.reserved2},
        {&layout.dataLength, r.length},
    };
    if (layout.length < 6 || layout.length > cdb.size()) {
        return false;
    }
    cdb.fill(0);
    cdb[0] = layout.opcode;
    for (const auto& [f, value] : fields) {
        if (f->width != 0 && f->offset + f->width > layout.length) {
            return false;
        }
        if (!putField(cdb, *f, value)) {
            return false;
        }
    }
    return true;
}

} // namespace

Command encodeTestUnitReady() {
    return make({0x00}, 6, Direction::None, 0, CommandClass::Quick);
}

Command encodeInquiry() {
    return make({0x12, 0, 0, 0, kInquiryAllocation, 0}, 6, Direction::In, kInquiryAllocation,
                CommandClass::Quick);
}

Command encodeReadCapacity10() {
    return make({0x25}, 10, Direction::In, 8, CommandClass::Quick);
}

Command encodeReadCapacity16() {
    // SERVICE ACTION IN(16), READ CAPACITY(16), allocation length 32.
    Command c = make({0x9E, 0x10}, 16, Direction::In, 32, CommandClass::Quick);
    putBe32(&c.cdb[10], 32);
    return c;
}

Command encodeModeSense() {
    // All pages, current values: the header's device-specific byte carries WP.
    return make({0x1A, 0x00, 0x3F, 0x00, kModeSenseAllocation, 0x00}, 6, Direction::In,
                kModeSenseAllocation, CommandClass::Quick);
}

Command encodeSynchronizeCache() {
    // Block 0, count 0: every cached block, however many.
    return make({0x35}, 10, Direction::None, 0, CommandClass::Transfer);
}

std::optional<Command> encodeRead(int64_t firstSector, int64_t sectorCount) {
    return transfer(false, firstSector, sectorCount);
}

std::optional<Command> encodeWrite(int64_t firstSector, int64_t sectorCount,
                                   std::span<const uint8_t> data) {
    auto c = transfer(true, firstSector, sectorCount);
    if (!c || data.size() < c->dataLength) {
        return std::nullopt;
    }
    c->dataOut = data.first(c->dataLength);
    return c;
}

std::optional<Command> encodeVendor(const VendorLayout& layout, VendorForm form, int32_t code,
                                    int32_t chip, int32_t unit, int32_t parameter,
                                    int32_t reserved1, int32_t reserved2, int32_t length,
                                    std::span<const uint8_t> dataOut) {
    auto fitsByte = [](int32_t v) { return v >= 0 && v <= 0xFF; };
    auto fitsWord = [](int32_t v) { return v >= 0 && v <= 0xFFFF; };
    if (!fitsByte(code) || !fitsWord(chip) || !fitsWord(unit) || !fitsByte(parameter) ||
        !fitsByte(reserved1) || !fitsByte(reserved2) || length <= 0 || !fitsWord(length)) {
        return std::nullopt;
    }
    const bool write = form == VendorForm::Write;
    if (write && dataOut.size() < static_cast<size_t>(length)) {
        return std::nullopt;
    }
    Command c;
    const VendorRequest r{form,
                          static_cast<uint8_t>(code),
                          static_cast<uint16_t>(chip),
                          static_cast<uint16_t>(unit),
                          static_cast<uint8_t>(parameter),
                          static_cast<uint8_t>(reserved1),
                          static_cast<uint8_t>(reserved2),
                          static_cast<uint16_t>(length)};
    if (!placeVendor(layout, r, c.cdb)) {
        return std::nullopt;
    }
    c.cdbLength = layout.length;
    c.direction = write ? Direction::Out : Direction::In;
    c.dataLength = static_cast<uint32_t>(length);
    if (write) {
        c.dataOut = dataOut.first(static_cast<size_t>(length));
    }
    c.commandClass = CommandClass::Vendor;
    return c;
}

std::optional<VendorRequest> decodeVendor(std::span<const uint8_t> cdb) {
    return decodeVendor(cdb, VendorLayout{});
}

std::optional<VendorRequest> decodeVendor(std::span<const uint8_t> cdb,
                                          const VendorLayout& layout) {
    if (cdb.size() < layout.length || cdb.empty() || cdb[0] != layout.opcode) {
        return std::nullopt;
    }
    auto get = [&](const VendorField& f) { return field(cdb, f); };
    const uint32_t form = get(layout.form);
    if (form < 1 || form > 4) {
        return std::nullopt;
    }
    VendorRequest r;
    r.form = static_cast<VendorForm>(form);
    r.code = static_cast<uint8_t>(get(layout.code));
    r.chip = static_cast<uint16_t>(get(layout.chip));
    r.unit = static_cast<uint16_t>(get(layout.unit));
    r.parameter = static_cast<uint8_t>(get(layout.parameter));
    r.reserved1 = static_cast<uint8_t>(get(layout.reserved1));
    r.reserved2 = static_cast<uint8_t>(get(layout.reserved2));
    r.length = static_cast<uint16_t>(get(layout.dataLength));
    return r;
}

std::string describeVendorBlock(const VendorLayout& layout, const VendorRequest& request) {
    std::array<uint8_t, 16> cdb{};
    if (!placeVendor(layout, request, cdb)) {
        return {};
    }
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < layout.length; ++i) {
        if (i > 0) {
            text.push_back(' ');
        }
        text.push_back(digits[cdb[i] >> 4]);
        text.push_back(digits[cdb[i] & 15]);
    }
    return text;
}

std::optional<TransferRequest> decodeTransfer(std::span<const uint8_t> cdb) {
    if (cdb.empty()) {
        return std::nullopt;
    }
    TransferRequest t;
    switch (cdb[0]) {
    case 0x28:
    case 0x2A:
        if (cdb.size() < 10) {
            return std::nullopt;
        }
        t.write = cdb[0] == 0x2A;
        t.firstSector = be32(&cdb[2]);
        t.sectorCount = be16(&cdb[7]);
        return t;
    case 0x88:
    case 0x8A:
        if (cdb.size() < 16) {
            return std::nullopt;
        }
        t.write = cdb[0] == 0x8A;
        t.firstSector = be64(&cdb[2]);
        t.sectorCount = be32(&cdb[10]);
        return t;
    default:
        return std::nullopt;
    }
}

} // namespace quorlink
