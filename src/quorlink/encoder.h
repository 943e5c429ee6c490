// The one command encoder: every transport operation becomes a SCSI command
// block plus data direction here, so the simulator and the SG_IO backend see
// the very same bytes.
//
// Standard blocks: TEST UNIT READY(6), INQUIRY(6), READ CAPACITY(10) and (16),
// MODE SENSE(6) of all pages, SYNCHRONIZE CACHE(10) of the whole medium,
// READ/WRITE(10) (16-byte forms when the count does not fit 16 bits).
//
// Vendor block (16 bytes, our own layout):
//   0      0xC6, the vendor operation code
//   1      form: 1 VendorR, 2 VendorW, 3 Vendor (chip, unit), 4 VendorScan
//   2      vendor code
//   3..4   chip, uint16 big-endian
//   5..6   unit, uint16 big-endian
//   7      parameter byte (VendorScan)
//   8      reserved1 (VendorScan), 9 reserved2 (VendorScan)
//   10..11 data length, uint16 big-endian
//   12..15 zero
// VendorW carries data to the drive; every other form reads `length` bytes.
// This is VendorLayout's default; [VendorBlock] in quorlink.conf may move the
// fields for a controller that expects them elsewhere.
#pragma once

#include "command.h"
#include "quorlink_conf.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quorlink {

inline constexpr uint8_t kVendorOpcode = 0xC6;
inline constexpr uint32_t kSectorSize = 512;
inline constexpr uint8_t kModeSenseAllocation = 192;
inline constexpr uint8_t kInquiryAllocation = 36;

enum class VendorForm : uint8_t { Read = 1, Write = 2, ChipUnit = 3, Scan = 4 };

struct VendorRequest {
    VendorForm form = VendorForm::Read;
    uint8_t code = 0;
    uint16_t chip = 0;
    uint16_t unit = 0;
    uint8_t parameter = 0;
    uint8_t reserved1 = 0;
    uint8_t reserved2 = 0;
    uint16_t length = 0;
};

Command encodeTestUnitReady();
Command encodeInquiry();
Command encodeReadCapacity10();
Command encodeReadCapacity16();
Command encodeModeSense();
Command encodeSynchronizeCache();
// nullopt: the range does not fit a SCSI block (negative or too large).
std::optional<Command> encodeRead(int64_t firstSector, int64_t sectorCount);
std::optional<Command> encodeWrite(int64_t firstSector, int64_t sectorCount,
                                   std::span<const uint8_t> data);
// The vendor block with the fields where `layout` puts them (VendorLayout{}:
// the documented block). nullopt: an argument does not fit its field (code >
// 255, chip < 0, ...) or the width the layout gives it.
std::optional<Command> encodeVendor(const VendorLayout& layout, VendorForm form, int32_t code,
                                    int32_t chip, int32_t unit, int32_t parameter,
                                    int32_t reserved1, int32_t reserved2, int32_t length,
                                    std::span<const uint8_t> dataOut = {});

// The executors' side: read a vendor block back. nullopt: not a vendor block
// (a layout that does not carry the form cannot be read back).
std::optional<VendorRequest> decodeVendor(std::span<const uint8_t> cdb);
std::optional<VendorRequest> decodeVendor(std::span<const uint8_t> cdb, const VendorLayout& layout);

// The bytes a vendor command would carry under `layout`, as upper-case hex
// pairs separated by spaces ("C6 01 2A ..."); empty when the request does not
// fit the layout. For engineers matching a controller's expectations.
std::string describeVendorBlock(const VendorLayout& layout, const VendorRequest& request);

struct TransferRequest {
    bool write = false;
    uint64_t firstSector = 0;
    uint32_t sectorCount = 0;
};
// READ/WRITE (10) and (16); nullopt for any other block.
std::optional<TransferRequest> decodeTransfer(std::span<const uint8_t> cdb);

} // namespace quorlink
