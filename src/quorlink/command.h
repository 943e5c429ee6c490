// One SCSI command as both executors see it: the command block the encoder
// built and the direction and size of its data phase.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace quorlink {

enum class Direction : uint8_t { None, In, Out };

// Which timeout class a command belongs to; a vendor erase may take seconds.
enum class CommandClass : uint8_t { Quick, Transfer, Vendor };

struct Command {
    std::array<uint8_t, 16> cdb{};
    uint8_t cdbLength = 0;
    Direction direction = Direction::None;
    uint32_t dataLength = 0;          // bytes in the data phase
    std::span<const uint8_t> dataOut; // Direction::Out only
    CommandClass commandClass = CommandClass::Quick;
};

// How the reply file of a successful command is written. The simulator's
// faults use the last two; real drives always answer Full.
enum class ReplyShape : uint8_t { Full, Missing, Short };

// What an executor answers for one command.
struct Outcome {
    bool ok = false;
    std::string reason; // why it failed, for the trace
    ReplyShape reply = ReplyShape::Full;
    size_t shortLength = 0; // bytes of the reply written for ReplyShape::Short
    // The sense the drive gave with a failed command (key, ASC, ASCQ; key 0: none).
    std::array<uint8_t, 3> sense{};
};

} // namespace quorlink
