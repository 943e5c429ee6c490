// What the stick answers to each command block, and the byte layouts of USB
// mass-storage Bulk-Only Transport it speaks: the command block wrapper it
// receives, the status wrapper and the fixed-format sense data it sends. The
// drive itself is the simulator's drive model (the same rack file: capacity,
// chips, vendor replies, write-protect switch, faults, latency, state on
// disk); a real device adds sense data for failures, REQUEST SENSE, the
// housekeeping commands the kernel sends, and possibly another block size.
#pragma once

#include "encoder.h"
#include "executor.h"

namespace stick {

inline constexpr size_t kCbwLength = 31, kCswLength = 13, kSenseLength = 18;

struct Cbw {
    uint32_t tag = 0, dataLength = 0;
    bool dataIn = false; // direction of the data phase (flags bit 7)
    uint8_t cdbLength = 0;
    std::array<uint8_t, 16> cdb{};
    bool operator==(const Cbw&) const = default;
};

// nullopt: not a valid wrapper (length, signature or block length wrong).
std::optional<Cbw> parseCbw(std::span<const uint8_t> bytes);

enum class CswStatus : uint8_t { Good = 0, Failed = 1, PhaseError = 2 };
std::array<uint8_t, kCswLength> buildCsw(uint32_t tag, uint32_t residue, CswStatus status);

using Sense = std::array<uint8_t, 3>; // key, additional sense code, qualifier
inline constexpr Sense kNoSense{0, 0, 0};
inline constexpr Sense kNotReady{0x02, 0x3A, 0x00};        // medium not present
inline constexpr Sense kBecomingReady{0x02, 0x04, 0x01};   // not ready, becoming ready
inline constexpr Sense kMediumError{0x03, 0x11, 0x00};     // unrecovered read error
inline constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};   // invalid command operation code
inline constexpr Sense kLbaOutOfRange{0x05, 0x21, 0x00};   // logical block address out of range
inline constexpr Sense kInvalidField{0x05, 0x24, 0x00};    // invalid field in CDB
inline constexpr Sense kParameterLength{0x05, 0x1A, 0x00}; // parameter list length error
inline constexpr Sense kWriteProtected{0x07, 0x27, 0x00};  // data protect: write protected
std::array<uint8_t, kSenseLength> buildSense(const Sense& sense);

using Span = std::span<const uint8_t>;
using Buffer = std::span<uint8_t>;

struct Answer {
    bool ok = false;
    Sense sense{};       // failures only
    std::string reason;  // the drive model's words, for the log
    bool silent = false; // the drive stopped answering: no data, no status
};

class Stick {
public:
    // blockSize: the logical block size the stick reports, a multiple of 512;
    // the drive model keeps counting in 512-byte sectors underneath.
    Stick(std::unique_ptr<quorlink::Device> drive, uint32_t blockSize)
        : drive_(std::move(drive)), sectorsPerBlock_(blockSize / quorlink::kSectorSize) {}

    // cdb has at least one byte (parseCbw sees to it). dataIn has the host's
    // data-in length and comes zero-filled; dataOut is what the host sent.
    // The sense of a failure is kept for REQUEST SENSE.
    Answer answer(Span cdb, Buffer dataIn, Span dataOut);

    // The next `commands` commands that need the medium get NOT READY,
    // becoming ready, as a drive still spinning up or loading its firmware.
    void notReadyFor(int commands) { notReady_ = commands; }

    // The host reset the USB device: the drive model's controller starts
    // afresh (a hang ends, its cache is written out). Empty, or why not.
    std::string reset();

private:
    Answer run(Span cdb, Buffer dataIn, Span dataOut);

    std::unique_ptr<quorlink::Device> drive_;
    uint32_t sectorsPerBlock_;
    Sense pending_{};
    int notReady_ = 0;
};

} // namespace stick
