#include "sense.h"

#include <array>
#include <cstdio>

namespace quorlink::sg {

std::optional<Sense> decodeSense(std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        return std::nullopt;
    }
    const uint8_t code = bytes[0] & 0x7F;
    Sense s;
    if (code == 0x70 || code == 0x71) {
        if (bytes.size() < 3) {
            return std::nullopt;
        }
        s.key = bytes[2] & 0x0F;
        // The additional length (byte 7) says how much of ASC/ASCQ is real.
        const size_t valid = bytes.size() > 7 ? 8u + bytes[7] : bytes.size();
        if (valid > 12 && bytes.size() > 12) {
            s.asc = bytes[12];
        }
        if (valid > 13 && bytes.size() > 13) {
            s.ascq = bytes[13];
        }
        return s;
    }
    if (code == 0x72 || code == 0x73) {
        if (bytes.size() < 2) {
            return std::nullopt;
        }
        s.key = bytes[1] & 0x0F;
        if (bytes.size() > 2) {
            s.asc = bytes[2];
        }
        if (bytes.size() > 3) {
            s.ascq = bytes[3];
        }
        return s;
    }
    return std::nullopt;
}

std::string senseKeyName(uint8_t key) {
    static constexpr std::array<const char*, 16> kNames = {
        "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
        "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
        "BLANK CHECK",    "VENDOR DEFINED",  "COPY ABORTED",   "ABORTED COMMAND",
        nullptr,          "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED"};
    if (key < kNames.size() && kNames[key] != nullptr) {
        return kNames[key];
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "SENSE KEY 0x%X", key);
    return buf;
}

std::string describeSense(const Sense& sense) {
    char buf[16];
    std::snprintf(buf, sizeof buf, " %X/%02X/%02X", sense.key & 0x0F, sense.asc, sense.ascq);
    return senseKeyName(sense.key) + buf;
}

std::string describeStatus(uint8_t status) {
    switch (status) {
    case 0x02:
        return "CHECK CONDITION";
    case 0x08:
        return "BUSY";
    case 0x18:
        return "RESERVATION CONFLICT";
    case 0x28:
        return "TASK SET FULL";
    case 0x30:
        return "ACA ACTIVE";
    case 0x40:
        return "TASK ABORTED";
    default: {
        char buf[24];
        std::snprintf(buf, sizeof buf, "status 0x%02X", status);
        return buf;
    }
    }
}

std::string describeHostStatus(uint16_t hostStatus) {
    static constexpr std::array<const char*, 15> kNames = {
        "DID_OK",        "DID_NO_CONNECT",  "DID_BUS_BUSY",
        "DID_TIME_OUT",  "DID_BAD_TARGET",  "DID_ABORT",
        "DID_PARITY",    "DID_ERROR",       "DID_RESET",
        "DID_BAD_INTR",  "DID_PASSTHROUGH", "DID_SOFT_ERROR",
        "DID_IMM_RETRY", "DID_REQUEUE",     "DID_TRANSPORT_DISRUPTED"};
    if (hostStatus < kNames.size()) {
        return kNames[hostStatus];
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "host status 0x%02X", hostStatus);
    return buf;
}

} // namespace quorlink::sg
