// What the stick answers to each command block. The drive itself is the
// simulator's drive model (the same rack file: capacity, chips, vendor
// replies, write-protect switch, faults, latency, state on disk); a real
// device adds sense data for failures, REQUEST SENSE, the housekeeping
// commands the kernel sends, and possibly another logical block size.
#pragma once

#include "bot.h"

#include "executor.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace stick {

struct Answer {
    bool ok = false;
    Sense sense;        // failures only
    std::string reason; // the drive model's words, for the log
};

class Stick {
public:
    // blockSize: the logical block size the stick reports, a multiple of 512;
    // the drive model keeps counting in 512-byte sectors underneath.
    Stick(std::unique_ptr<quorlink::Device> drive, uint32_t blockSize);

    // dataIn has the host's data-in length and comes zero-filled; dataOut is
    // what the host sent. The sense of a failure is kept for REQUEST SENSE.
    Answer answer(std::span<const uint8_t> cdb, std::span<uint8_t> dataIn,
                  std::span<const uint8_t> dataOut);

    // The next `commands` commands that need the medium get NOT READY,
    // becoming ready, as a drive still spinning up or loading its firmware.
    void notReadyFor(int commands) { notReady_ = commands; }

private:
    Answer run(std::span<const uint8_t> cdb, std::span<uint8_t> dataIn,
               std::span<const uint8_t> dataOut);
    Answer execute(const quorlink::Command& cmd, std::span<uint8_t> dataIn);

    std::unique_ptr<quorlink::Device> drive_;
    uint32_t sectorsPerBlock_;
    Sense pending_ = kNoSense;
    int notReady_ = 0;
};

// The sense a real drive gives for what the drive model calls a failure.
Sense senseFor(const std::string& reason);

} // namespace stick
