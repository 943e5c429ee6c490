// Turning what a drive said about a failed command into a line for the trace.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quorlink::sg {

struct Sense {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
};

// Fixed (0x70/0x71) and descriptor (0x72/0x73) formats; nullopt for anything
// else or a buffer too short to hold the key.
std::optional<Sense> decodeSense(std::span<const uint8_t> bytes);

// "MEDIUM ERROR 3/11/00": the key's name, then key/ASC/ASCQ in hex.
std::string describeSense(const Sense& sense);

// The name of a sense key ("NOT READY"); "SENSE KEY 0xN" for reserved keys.
std::string senseKeyName(uint8_t key);

// Why a SCSI status other than GOOD failed, e.g. "BUSY" or "status 0x40".
std::string describeStatus(uint8_t status);

// The transport's verdict (host_status of sg_io_hdr), e.g. "DID_TIME_OUT".
std::string describeHostStatus(uint16_t hostStatus);

} // namespace quorlink::sg
