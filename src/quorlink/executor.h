// The executor runs encoded commands on one backend: simulated drives or
// SG_IO. The C API layer owns handles and reply files and knows nothing of
// either backend.
#pragma once

#include "command.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace quorlink {

// An open drive of one executor. Destroying it releases the device.
class Device {
public:
    virtual ~Device() = default;
    // Runs one command. For Direction::In, dataIn has cmd.dataLength bytes and
    // receives the data; unused for other directions.
    virtual Outcome execute(const Command& cmd, std::span<uint8_t> dataIn) = 0;
};

struct OpenResult {
    std::unique_ptr<Device> device;  // null: nothing at this index
    std::string deviceLine;          // contains "USBSTOR" only for USB storage
};

class Executor {
public:
    virtual ~Executor() = default;
    // Opens drive index 0..16.
    virtual OpenResult open(int driveIndex) = 0;
    // fnQuorbus2K_KillEXE: forget cached state.
    virtual void reset() {}
};

// Chosen once per process: $QUORLINK_RACK -> simulator, else SG_IO.
std::unique_ptr<Executor> makeSimulatorExecutor(const std::string& rackPath);
std::unique_ptr<Executor> makeSgExecutor();

} // namespace quorlink
