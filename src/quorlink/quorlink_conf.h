// quorlink.conf: what the real-drive backend may touch and how it talks to
// it. Read once per process by the library itself, so every program that
// uses libquorlink is held to the same allow-list. The simulator ignores it.
//
//   [Drives]      Allow=VID:PID,VID:PID   (hex; absent or empty: no drive)
//   [Ports]       0=1-2.3  1=1-2.4 ...    (drive index -> USB port path)
//   [Timeouts]    Quick=, Transfer=, Vendor=, Ready= (seconds)
//   [Trace]       MaxBytes=, Keep=
//   [VendorBlock] Opcode=, Length=, and Form=, Code=, Chip=, Unit=,
//                 Parameter=, Reserved1=, Reserved2=, DataLength= as
//                 "offset:width[:be|le]" (width 0: not carried)
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorlink {

struct UsbId {
    uint16_t vid = 0;
    uint16_t pid = 0;
    friend bool operator==(const UsbId&, const UsbId&) = default;
};

// One field of the vendor command block.
struct VendorField {
    uint8_t offset = 0;
    uint8_t width = 0; // bytes; 0: the layout does not carry this field
    bool bigEndian = true;
};

// The vendor command block. The defaults are the documented block of
// encoder.h, so a station without [VendorBlock] sends what it always sent.
struct VendorLayout {
    uint8_t opcode = 0xC6;
    uint8_t length = 16;
    VendorField form{1, 1, true};
    VendorField code{2, 1, true};
    VendorField chip{3, 2, true};
    VendorField unit{5, 2, true};
    VendorField parameter{7, 1, true};
    VendorField reserved1{8, 1, true};
    VendorField reserved2{9, 1, true};
    VendorField dataLength{10, 2, true};
};

struct Timeouts {
    std::chrono::milliseconds quick{std::chrono::seconds(10)};
    std::chrono::milliseconds transfer{std::chrono::seconds(30)};
    std::chrono::milliseconds vendor{std::chrono::seconds(60)};
    // How long NOT READY "becoming ready" and UNIT ATTENTION are retried.
    std::chrono::milliseconds ready{std::chrono::seconds(30)};
};

struct TraceLimits {
    uint64_t maxBytes = 16u << 20; // the live file is rotated past this
    int keep = 3;                  // trace.jsonl.1 .. .keep are kept
};

struct QuorlinkConf {
    std::filesystem::path file; // where it was looked for (for messages)
    bool found = false;         // the file exists
    std::vector<UsbId> allow;
    std::map<int, std::string> ports; // drive index -> USB port path
    Timeouts timeouts;
    TraceLimits trace;
    VendorLayout vendorBlock;
};

struct ConfLoad {
    QuorlinkConf conf;
    // Non-empty: the file is unusable (names file, key and value); conf then
    // holds the defaults, which allow no drive at all rather than guess.
    std::string error;
};

// $QUORLINK_CONF, else /etc/quorlink/quorlink.conf.
std::filesystem::path quorlinkConfPath();
// Absent file: the defaults; a file that cannot be used: the defaults and
// the error. The library calls it once per process.
ConfLoad loadQuorlinkConf(const std::filesystem::path& file);

} // namespace quorlink
