// The simulated rack: the drives a rack file describes, and the state that
// outlives a process (images, configuration blocks, switches) in the rack's
// state directory. Shared by the simulator executor, ufd-rack and Vasket.
#pragma once

#include "flash_model.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quorlink::sim {

inline constexpr int kDriveCount = 17; // drive indexes 0..16
inline constexpr size_t kBlockSize = 512;
// The station's sector addresses are int32: its last sector is 2^31 - 1.
inline constexpr int64_t kMaxCapacitySectors = int64_t{1} << 31;

struct RackError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A simulated fault: which calls it hits and what they answer.
struct Fault {
    std::string op;                // open, tur, capacity, mode_sense, read, write,
                                   // vendor_r, vendor_w, vendor, vendor_scan
    std::optional<int> code;       // vendor code, vendor ops only
    std::optional<int64_t> sector; // read/write covering this sector
    int nth = 0;                   // 0: every matching call, else only the n-th
    enum class Effect { Fail, NoReply, ShortReply } effect = Effect::Fail;
    size_t shortLength = 0;
};

enum class DriveKind { Empty, Disk, Usb };

struct DriveProfile {
    int index = 0;
    DriveKind kind = DriveKind::Empty;
    bool plugged = true;       // initial state
    bool writeProtect = false; // initial state
    uint64_t capacity = 0;     // sectors
    uint8_t info130 = 12;
    uint8_t info131 = 0x29; // controller code
    std::vector<uint8_t> chips;
    std::array<uint8_t, 2> modeBlock{0, 0};
    // Entry counts of the unit lists answered to 0x94 and 0x95, by (chip, unit).
    int defaultEntries94 = 0;
    int defaultEntries95 = 0;
    std::map<std::pair<int, int>, int> entries94;
    std::map<std::pair<int, int>, int> entries95;
    std::string vendor = "Generic";
    std::string product = "Flash Disk";
    std::string revision = "1.00";
    std::string serial;
    std::string port; // USB port path the records show; empty = unknown
    std::string line; // device line of a Disk; USB drives build theirs
    // Milliseconds before a command answers: by vendor code, else by
    // operation (the fault names), else the default.
    int latencyMs = 0;
    std::map<std::string, int> opLatencyMs;
    std::map<int, int> codeLatencyMs;
    std::vector<Fault> faults;
    // The flash behind the controller: kept sectors, bad sectors, speed.
    FlashProfile flash;
    std::string hub; // the hub whose bandwidth it shares; empty: none

    int unitEntries(int code, int chip, int unit) const;
    int latencyFor(const std::string& op, std::optional<int> code) const;
    std::string deviceLine() const;
};

// A hub: every drive on it shares its bandwidth, reads and writes alike.
struct Hub {
    double mbps = 0; // 10^6 bytes per second
};

// A simulated drive's cache holds at most 1 GiB.
inline constexpr uint64_t kMaxCacheSectors = uint64_t{1} << 21;

struct RackProfile {
    std::filesystem::path file;
    std::filesystem::path stateDir;
    std::optional<std::filesystem::path> trace;
    std::map<std::string, Hub> hubs;
    std::array<DriveProfile, kDriveCount> drives{};
};

// Bounds of a rack file; past them loadRack refuses it with a clear message.
inline constexpr uintmax_t kMaxRackBytes = 16 * 1024 * 1024;
inline constexpr int kMaxRackDepth = 64;

// Reads a rack file; RackError says what is wrong and where.
RackProfile loadRack(const std::filesystem::path& file);

// The persistent state of a rack. Every accessor reads the files afresh, so
// a change made by another process (ufd-rack) is seen at the next call.
class RackState {
public:
    explicit RackState(RackProfile profile);

    const RackProfile& profile() const { return profile_; }
    const DriveProfile& drive(int index) const;

    bool plugged(int index) const;
    void setPlugged(int index, bool plugged);
    bool writeProtect(int index) const;
    void setWriteProtect(int index, bool on);
    std::array<uint8_t, kBlockSize> configBlock(int index) const;
    void setConfigBlock(int index, const std::array<uint8_t, kBlockSize>& block);
    uint64_t ledCount(int index) const;
    void addLedActivity(int index, uint64_t reads);
    std::optional<uint32_t> boundary(int index) const;
    void setBoundary(int index, uint32_t sector);
    // The drive's sparse image (capacity * 512 bytes), created on first use.
    std::filesystem::path imagePath(int index) const;
    // Erases the image and the configuration block, forgets LED and boundary.
    void reset(int index);

    // What Vasket polls: which drives are plugged in now.
    std::array<bool, kDriveCount> pluggedStates() const;

private:
    std::filesystem::path dir(int index) const;
    std::optional<std::string> readSmall(int index, const char* name) const;
    void writeSmall(int index, const char* name, const std::string& value);

    RackProfile profile_;
};

// Checks a drive index given by a user; RackError otherwise.
void checkIndex(int index);

} // namespace quorlink::sim
