// The executor runs encoded commands on one backend: simulated drives or
// SG_IO. The C API layer owns handles and reply files and knows nothing of
// either backend.
#pragma once

#include "command.h"
#include "quorlink_conf.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace quorlink {

// An open drive of one executor. Destroying it releases the device.
class Device {
public:
    virtual ~Device() = default;
    // Runs one command. For Direction::In, dataIn has cmd.dataLength bytes and
    // receives the data; unused for other directions.
    virtual Outcome execute(const Command& cmd, std::span<uint8_t> dataIn) = 0;
    // Ends the handle's work before it is dropped (flushes what was written);
    // empty, or what went wrong, for the trace. Destroying a device that was
    // not released does the same without a word.
    virtual std::string release() { return {}; }
    // Resets the device (a USB reset for real drives) so that a drive that
    // stopped answering answers again; ok: it does. The device stays open.
    virtual Outcome reset() { return {false, "reset not supported"}; }
    // The most sectors one read or write may move; larger transfers are the
    // caller's to split.
    virtual uint32_t maxTransferSectors() { return kDefaultMaxTransferSectors; }

    // What a device that states no limit of its own takes: 8 MiB.
    static constexpr uint32_t kDefaultMaxTransferSectors = 16384;
};

struct OpenResult {
    std::unique_ptr<Device> device; // null: nothing at this index
    std::string deviceLine;         // contains "USBSTOR" only for USB storage
    std::string reason;             // why there is no device, beyond an empty index
    std::string serial;             // the drive's serial number, for the records
    std::string portPath;           // USB port path ("1-2.3"); empty when unknown
    // The hub whose bandwidth the drive shares; nullopt: the backend does not
    // say, and the root hub of the port path ("usb1" for "1-2.3") stands in.
    std::optional<std::string> hub;
    // How the device line lands in the reply file (the simulator's faults).
    ReplyShape reply = ReplyShape::Full;
    size_t shortLength = 0;
};

// What the library traces when $QUORLINK_TRACE does not name a file.
struct TraceTarget {
    std::filesystem::path file; // empty: $XDG_STATE_HOME/quorlink/trace.jsonl
    bool failuresOnly = false;  // only failed calls, not empty indexes
};

// One call of the C API as the trace records it.
struct CallRecord {
    std::string function;                                   // "fnQuorbus_Write"
    int32_t driveIndex = -1;                                // -1: no drive (bad handle)
    std::vector<std::pair<std::string, int64_t>> arguments; // in the API's order
    int64_t status = 0;                                     // status, or the handle
    std::span<const uint8_t> writeData;                     // fnQuorbus_Write's data
    std::string reason;                                     // why it failed, if known
};

class Executor {
public:
    virtual ~Executor() = default;
    virtual std::optional<TraceTarget> defaultTrace() const { return std::nullopt; }
    // Opens drive index 0..16.
    virtual OpenResult open(int driveIndex) = 0;
    // quorlink.conf as this backend loaded it; null: the backend reads none
    // (the simulator).
    virtual const ConfLoad* confLoad() const { return nullptr; }
    // Where the vendor block's fields go for this backend's drives.
    virtual const VendorLayout& vendorLayout() const {
        static const VendorLayout documented;
        return documented;
    }
};

// Chosen once per process: $QUORLINK_RACK -> simulator, else SG_IO.
std::unique_ptr<Executor> makeSimulatorExecutor(const std::string& rackPath);
std::unique_ptr<Executor> makeSgExecutor();

} // namespace quorlink
