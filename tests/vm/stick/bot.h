// The byte layouts of USB mass-storage Bulk-Only Transport as the stick sees
// them: the command block wrapper it receives, the status wrapper it sends,
// and the fixed-format sense data it answers REQUEST SENSE with.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace stick {

inline constexpr size_t kCbwLength = 31;
inline constexpr size_t kCswLength = 13;
inline constexpr size_t kSenseLength = 18;

struct Cbw {
    uint32_t tag = 0;
    uint32_t dataLength = 0;
    bool dataIn = false; // direction of the data phase (flags bit 7)
    uint8_t lun = 0;
    uint8_t cdbLength = 0;
    std::array<uint8_t, 16> cdb{};
};

// nullopt: not a valid wrapper (length, signature or block length wrong).
std::optional<Cbw> parseCbw(std::span<const uint8_t> bytes);

enum class CswStatus : uint8_t { Good = 0, Failed = 1, PhaseError = 2 };

std::array<uint8_t, kCswLength> buildCsw(uint32_t tag, uint32_t residue, CswStatus status);

struct Sense {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    bool operator==(const Sense&) const = default;
};

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

} // namespace stick
