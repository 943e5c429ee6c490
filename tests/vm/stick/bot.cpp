#include "bot.h"

namespace stick {
namespace {

constexpr uint32_t kCbwSignature = 0x43425355; // "USBC"
constexpr uint32_t kCswSignature = 0x53425355; // "USBS"

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

} // namespace

std::optional<Cbw> parseCbw(std::span<const uint8_t> bytes) {
    if (bytes.size() != kCbwLength || le32(bytes.data()) != kCbwSignature) {
        return std::nullopt;
    }
    Cbw cbw;
    cbw.tag = le32(bytes.data() + 4);
    cbw.dataLength = le32(bytes.data() + 8);
    cbw.dataIn = (bytes[12] & 0x80) != 0;
    cbw.lun = bytes[13] & 0x0F;
    cbw.cdbLength = bytes[14] & 0x1F;
    if (cbw.cdbLength == 0 || cbw.cdbLength > cbw.cdb.size()) {
        return std::nullopt;
    }
    for (size_t i = 0; i < cbw.cdb.size(); ++i) {
        cbw.cdb[i] = bytes[15 + i];
    }
    return cbw;
}

std::array<uint8_t, kCswLength> buildCsw(uint32_t tag, uint32_t residue, CswStatus status) {
    std::array<uint8_t, kCswLength> csw{};
    putLe32(csw.data(), kCswSignature);
    putLe32(csw.data() + 4, tag);
    putLe32(csw.data() + 8, residue);
    csw[12] = static_cast<uint8_t>(status);
    return csw;
}

std::array<uint8_t, kSenseLength> buildSense(const Sense& sense) {
    std::array<uint8_t, kSenseLength> data{};
    data[0] = 0x70; // current error, fixed format
    data[2] = sense.key;
    data[7] = kSenseLength - 8; // additional sense length
    data[12] = sense.asc;
    data[13] = sense.ascq;
    return data;
}

} // namespace stick
