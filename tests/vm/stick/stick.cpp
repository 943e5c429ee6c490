#include "stick.h"

#include <algorithm>
#include <cstring>
#include <endian.h>

namespace stick {
namespace {

constexpr uint8_t kTestUnitReady = 0x00, kRequestSense = 0x03, kFormatUnit = 0x04, kInquiry = 0x12,
                  kStartStop = 0x1B, kPreventAllow = 0x1E, kReadCapacity10 = 0x25,
                  kSynchronizeCache10 = 0x35, kServiceActionIn16 = 0x9E;

// Commands a drive cannot answer before its medium is ready.
bool needsMedium(Span cdb) {
    constexpr std::array kMedium{kTestUnitReady, kFormatUnit, kReadCapacity10, kServiceActionIn16,
                                 kSynchronizeCache10};
    return std::ranges::count(kMedium, cdb[0]) || quorlink::decodeVendor(cdb) ||
           quorlink::decodeTransfer(cdb);
}

// The sense a real drive gives for what the drive model calls a failure.
Sense senseFor(const std::string& reason) {
    // Prefixes of the drive model's reasons; everything else is a medium error.
    static const std::pair<const char*, Sense> table[] = {
        {"drive unplugged", kNotReady},          {"no medium", kNotReady},
        {"write protected", kWriteProtected},    {"sector out of range", kLbaOutOfRange},
        {"unsupported command", kInvalidOpcode}, {"not a USB drive", kInvalidOpcode},
        {"unknown vendor code", kInvalidField},  {"no such chip", kInvalidField},
        {"allocation too small", kInvalidField}, {"configuration block shorter", kParameterLength},
    };
    const auto* row =
        std::ranges::find_if(table, [&](auto& r) { return reason.starts_with(r.first); });
    return row == std::end(table) ? kMediumError : row->second;
}

} // namespace

std::optional<Cbw> parseCbw(std::span<const uint8_t> bytes) {
    const auto le32 = [&](size_t at) {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
    };
    const uint8_t cdbLength = bytes.size() == kCbwLength ? bytes[14] & 0x1F : 0;
    if (cdbLength == 0 || cdbLength > 16 || std::memcmp(bytes.data(), "USBC", 4) != 0) {
        return std::nullopt;
    }
    Cbw cbw{le32(4), le32(8), (bytes[12] & 0x80) != 0, cdbLength};
    std::copy_n(bytes.begin() + 15, cbw.cdb.size(), cbw.cdb.begin());
    return cbw;
}

std::array<uint8_t, kCswLength> buildCsw(uint32_t tag, uint32_t residue, CswStatus status) {
    std::array<uint8_t, kCswLength> csw{'U', 'S', 'B', 'S'};
    const uint32_t le[] = {htole32(tag), htole32(residue)};
    std::memcpy(csw.data() + 4, le, sizeof(le));
    csw[12] = static_cast<uint8_t>(status);
    return csw;
}

std::array<uint8_t, kSenseLength> buildSense(const Sense& s) {
    // Current error, fixed format, ten more bytes.
    return {0x70, 0, s[0], 0, 0, 0, 0, kSenseLength - 8, 0, 0, 0, 0, s[1], s[2]};
}

Answer Stick::answer(Span cdb, Buffer dataIn, Span dataOut) {
    if (cdb[0] == kRequestSense) {
        const auto sense = buildSense(std::exchange(pending_, kNoSense));
        std::copy_n(sense.begin(), std::min(sense.size(), dataIn.size()), dataIn.begin());
        return {true, {}, {}};
    }
    const bool notReady = notReady_ > 0 && needsMedium(cdb);
    notReady_ -= notReady ? 1 : 0;
    Answer a =
        notReady ? Answer{false, kBecomingReady, "becoming ready"} : run(cdb, dataIn, dataOut);
    // The drive model's words for a controller that stopped answering: a
    // real one leaves the host waiting until it gives up and resets the port.
    a.silent = !a.ok && a.reason == "drive not answering";
    pending_ = a.silent ? kNoSense : a.sense;
    return a;
}

std::string Stick::reset() {
    pending_ = kNoSense;
    const quorlink::Outcome o = drive_->reset();
    return o.ok ? std::string() : o.reason;
}

Answer Stick::run(Span cdb, Buffer dataIn, Span dataOut) {
    const uint8_t op = cdb[0];
    if (op == kStartStop || op == kPreventAllow || op == kSynchronizeCache10) {
        return {true, {}, {}};
    }
    if (op == kInquiry && cdb.size() > 1 && (cdb[1] & 0x01) != 0) {
        return {false, kInvalidField, "no vital product data pages"};
    }
    // A real device checks the host's data phase against the command block;
    // for the blocks whose length field is certain, so does the stick, so a
    // wrong length byte cannot hide behind the transfer the host set up.
    const size_t moved = std::max(dataIn.size(), dataOut.size());
    const auto vendor = quorlink::decodeVendor(cdb);
    const auto transfer = quorlink::decodeTransfer(cdb);
    const uint64_t sectors = transfer ? uint64_t{transfer->sectorCount} * sectorsPerBlock_ : 0;
    const uint64_t want =
        vendor ? vendor->length : (transfer ? sectors * quorlink::kSectorSize : moved);
    if (want != moved) {
        return {false, kInvalidField,
                "data phase of " + std::to_string(moved) + " bytes, command block says " +
                    std::to_string(want)};
    }

    std::optional<quorlink::Command> cmd;
    if (transfer && sectorsPerBlock_ > 1) {
        const auto first = static_cast<int64_t>(transfer->firstSector * sectorsPerBlock_);
        const auto count = static_cast<int64_t>(sectors);
        cmd = transfer->write ? quorlink::encodeWrite(first, count, dataOut)
                              : quorlink::encodeRead(first, count);
        if (!cmd) {
            return {false, kLbaOutOfRange, "sector out of range"};
        }
    } else {
        using enum quorlink::Direction;
        const auto direction = !dataOut.empty() ? Out : (dataIn.empty() ? None : In);
        cmd = {
            {}, static_cast<uint8_t>(cdb.size()), direction, static_cast<uint32_t>(moved), dataOut};
        std::copy(cdb.begin(), cdb.end(), cmd->cdb.begin());
    }
    const quorlink::Outcome o = drive_->execute(*cmd, dataIn);
    if (!o.ok) {
        return {false, senseFor(o.reason), o.reason};
    }
    // Capacity answers of the 512-byte drive model restated in larger blocks.
    const size_t width = op == kReadCapacity10 ? 4 : 8;
    const bool capacity = op == kReadCapacity10 ||
                          (op == kServiceActionIn16 && cdb.size() > 1 && (cdb[1] & 0x1F) == 0x10);
    if (capacity && sectorsPerBlock_ > 1 && dataIn.size() >= width + 4) {
        uint64_t last = 0; // big-endian, `width` bytes
        std::memcpy(&last, dataIn.data(), width);
        const uint64_t blocks = ((be64toh(last) >> (64 - 8 * width)) + 1) / sectorsPerBlock_;
        const uint64_t lastBlock = htobe64((blocks == 0 ? 0 : blocks - 1) << (64 - 8 * width));
        const uint32_t blockSize = htobe32(sectorsPerBlock_ * quorlink::kSectorSize);
        std::memcpy(dataIn.data(), &lastBlock, width);
        std::memcpy(dataIn.data() + width, &blockSize, 4);
    }
    return {true, {}, {}};
}

} // namespace stick
