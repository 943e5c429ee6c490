#include "stick.h"

#include "encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

namespace stick {
namespace {

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kFormatUnit = 0x04;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kStartStop = 0x1B;
constexpr uint8_t kPreventAllow = 0x1E;
constexpr uint8_t kReadCapacity10 = 0x25;
constexpr uint8_t kSynchronizeCache10 = 0x35;
constexpr uint8_t kServiceActionIn16 = 0x9E;

uint64_t be(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v = (v << 8) | p[i];
    }
    return v;
}

void putBe(uint8_t* p, int bytes, uint64_t v) {
    for (int i = bytes - 1; i >= 0; --i, v >>= 8) {
        p[i] = static_cast<uint8_t>(v);
    }
}

// Capacity answers of the 512-byte drive model restated in larger blocks.
void restateCapacity(uint8_t opcode, std::span<uint8_t> data, uint32_t sectorsPerBlock) {
    const int width = opcode == kReadCapacity10 ? 4 : 8;
    if (data.size() < static_cast<size_t>(width) + 4) {
        return;
    }
    const uint64_t last = be(data.data(), width);
    const uint64_t blocks = (last + 1) / sectorsPerBlock;
    putBe(data.data(), width, blocks == 0 ? 0 : blocks - 1);
    putBe(data.data() + width, 4, uint64_t{sectorsPerBlock} * quorlink::kSectorSize);
}

// The data phase a READ/WRITE or vendor block asks for; nullopt for others.
std::optional<uint64_t> dataLengthOf(std::span<const uint8_t> cdb, uint32_t sectorsPerBlock) {
    if (auto v = quorlink::decodeVendor(cdb)) {
        return v->length;
    }
    if (auto t = quorlink::decodeTransfer(cdb)) {
        return uint64_t{t->sectorCount} * sectorsPerBlock * quorlink::kSectorSize;
    }
    return std::nullopt;
}

// Commands a drive cannot answer before its medium is ready.
bool needsMedium(std::span<const uint8_t> cdb) {
    switch (cdb[0]) {
    case kTestUnitReady:
    case kFormatUnit:
    case kReadCapacity10:
    case kServiceActionIn16:
    case kSynchronizeCache10:
        return true;
    default:
        return quorlink::decodeVendor(cdb) || quorlink::decodeTransfer(cdb);
    }
}

} // namespace

Sense senseFor(const std::string& reason) {
    // Prefixes of the drive model's reasons; everything else is a medium error.
    static const std::array<std::pair<const char*, Sense>, 10> table{{
        {"drive unplugged", kNotReady},
        {"no medium", kNotReady},
        {"write protected", kWriteProtected},
        {"sector out of range", kLbaOutOfRange},
        {"unsupported command", kInvalidOpcode},
        {"not a USB drive", kInvalidOpcode},
        {"unknown vendor code", kInvalidField},
        {"no such chip", kInvalidField},
        {"allocation too small", kInvalidField},
        {"configuration block shorter", kParameterLength},
    }};
    for (const auto& [prefix, sense] : table) {
        if (reason.rfind(prefix, 0) == 0) {
            return sense;
        }
    }
    return kMediumError;
}

Stick::Stick(std::unique_ptr<quorlink::Device> drive, uint32_t blockSize)
    : drive_(std::move(drive)), sectorsPerBlock_(blockSize / quorlink::kSectorSize) {}

Answer Stick::answer(std::span<const uint8_t> cdb, std::span<uint8_t> dataIn,
                     std::span<const uint8_t> dataOut) {
    if (cdb.empty()) {
        return {false, kInvalidOpcode, "empty command block"};
    }
    if (cdb[0] == kRequestSense) {
        const auto sense = buildSense(pending_);
        std::copy_n(sense.begin(), std::min(sense.size(), dataIn.size()), dataIn.begin());
        pending_ = kNoSense;
        return {true, kNoSense, {}};
    }
    Answer a;
    if (notReady_ > 0 && needsMedium(cdb)) {
        --notReady_;
        a = {false, kBecomingReady, "becoming ready"};
    } else {
        a = run(cdb, dataIn, dataOut);
    }
    pending_ = a.ok ? kNoSense : a.sense;
    return a;
}

Answer Stick::run(std::span<const uint8_t> cdb, std::span<uint8_t> dataIn,
                  std::span<const uint8_t> dataOut) {
    switch (cdb[0]) {
    case kStartStop:
    case kPreventAllow:
    case kSynchronizeCache10:
        return {true, kNoSense, {}};
    case kInquiry:
        if (cdb.size() > 1 && (cdb[1] & 0x01) != 0) {
            return {false, kInvalidField, "no vital product data pages"};
        }
        break;
    default:
        break;
    }

    // A real device checks the host's data phase against the command block;
    // for the blocks whose length field is certain, so does the stick, so a
    // wrong length byte cannot hide behind the transfer the host set up.
    if (auto want = dataLengthOf(cdb, sectorsPerBlock_);
        want && *want != std::max(dataIn.size(), dataOut.size())) {
        return {false, kInvalidField,
                "data phase of " + std::to_string(std::max(dataIn.size(), dataOut.size())) +
                    " bytes, command block says " + std::to_string(*want)};
    }

    quorlink::Command cmd;
    std::copy(cdb.begin(), cdb.end(), cmd.cdb.begin());
    cmd.cdbLength = static_cast<uint8_t>(cdb.size());
    cmd.direction = !dataOut.empty()  ? quorlink::Direction::Out
                    : !dataIn.empty() ? quorlink::Direction::In
                                      : quorlink::Direction::None;
    cmd.dataLength = static_cast<uint32_t>(std::max(dataIn.size(), dataOut.size()));
    cmd.dataOut = dataOut;

    if (sectorsPerBlock_ > 1) {
        if (auto t = quorlink::decodeTransfer(cdb)) {
            const auto first = static_cast<int64_t>(t->firstSector * sectorsPerBlock_);
            const auto count = static_cast<int64_t>(uint64_t{t->sectorCount} * sectorsPerBlock_);
            auto scaled = t->write ? quorlink::encodeWrite(first, count, dataOut)
                                   : quorlink::encodeRead(first, count);
            if (!scaled) {
                return {false, kLbaOutOfRange, "sector out of range"};
            }
            return execute(*scaled, dataIn);
        }
    }
    Answer a = execute(cmd, dataIn);
    const bool capacity = cdb[0] == kReadCapacity10 || (cdb[0] == kServiceActionIn16 &&
                                                        cdb.size() > 1 && (cdb[1] & 0x1F) == 0x10);
    if (a.ok && capacity && sectorsPerBlock_ > 1) {
        restateCapacity(cdb[0], dataIn, sectorsPerBlock_);
    }
    return a;
}

Answer Stick::execute(const quorlink::Command& cmd, std::span<uint8_t> dataIn) {
    std::vector<uint8_t> scratch;
    std::span<uint8_t> in = dataIn;
    if (cmd.direction == quorlink::Direction::In && dataIn.size() < cmd.dataLength) {
        scratch.resize(cmd.dataLength);
        in = scratch;
    }
    const quorlink::Outcome o = drive_->execute(cmd, in);
    if (!scratch.empty()) {
        std::copy_n(scratch.begin(), dataIn.size(), dataIn.begin());
    }
    if (o.ok) {
        return {true, kNoSense, {}};
    }
    return {false, senseFor(o.reason), o.reason};
}

} // namespace stick
