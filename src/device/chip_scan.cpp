#include "device/chip_scan.h"

#include "device/vendor_codes.h"

namespace ufd {
namespace {

struct ChipShape {
    uint8_t code;
    uint8_t units;
    int16_t blocksPerUnit;
    int16_t pagesPerBlock;
};

constexpr ChipShape kKnownChips[] = {
    {0xE6, 4, 256, 16},  {0x73, 4, 256, 32}, {0x75, 8, 256, 32}, {0x76, 16, 256, 32},
    {0x79, 32, 256, 32}, {0xF1, 4, 256, 64}, {0xDA, 8, 256, 64},
};

constexpr uint8_t kChipListEnd = 0xAA;
constexpr uint8_t kInformationMinimum = 11;
constexpr uint8_t kInformationMaximum = 13;
constexpr uint8_t kLowestControllerCode = 0x27;

bool IsLargeBlock(uint8_t code) {
    return code == 0xF1 || code == 0xDA;
}

} // namespace

std::span<const uint8_t> UnitListEntries(std::span<const uint8_t> reply) {
    const size_t end = std::min<size_t>(reply.size(), kReplyBlockSize);
    for (size_t i = 1; i + 1 < end && i <= 510; ++i) {
        if (reply[i] == 0xAA && reply[i + 1] == 0x55) {
            return reply.subspan(1, i - 1);
        }
    }
    return reply.subspan(1, end > 1 ? end - 2 : 0); // no pair: bytes 1..510
}

bool BuildChipTable(StationContext& ctx, int16_t slot) {
    DiskSlot* s = ctx.slots.Slot(slot);
    const auto& reply = ctx.replies.ReplyBuffer;
    size_t count = 0;
    while (count < kReplyBlockSize && reply[count] != kChipListEnd) {
        ++count;
    }
    if (s == nullptr || count == kReplyBlockSize) {
        return false;
    }
    for (size_t i = 0; i <= count; ++i) { // the terminator is copied too
        ctx.ChipTable[i].DeviceCode = reply[i];
    }
    s->ChipCount = static_cast<int16_t>(count);
    for (size_t i = 0; i < count; ++i) {
        ChipEntry& e = ctx.ChipTable[i];
        for (const auto& known : kKnownChips) {
            if (known.code == e.DeviceCode) {
                e.Units = known.units;
                e.BlocksPerUnit = known.blocksPerUnit;
                e.PagesPerBlock = known.pagesPerBlock;
            }
        }
    }
    return true;
}

DiskSlot* SlotWithHandle(StationContext& ctx, int16_t slot) {
    DiskSlot* s = ctx.slots.Slot(slot);
    if (s != nullptr && s->Handle == 0) {
        s->Status = kStatusMissingHandle;
        return nullptr;
    }
    return s;
}

bool ReadChipList(StationContext& ctx, int16_t slot) {
    DiskSlot* s = ctx.slots.Slot(slot);
    if (ctx.transport->VendorR(s->Handle, kVendorChipList, 0, kVendorLength) == 0) {
        s->Status = kVendorChipList;
        return false;
    }
    ctx.replies.ReadReplyBlock();
    if (!BuildChipTable(ctx, slot)) {
        s->Status = kVendorChipList;
        return false;
    }
    return true;
}

void ScanChips(StationContext& ctx, int16_t slot) {
    DiskSlot* s = SlotWithHandle(ctx, slot);
    if (s == nullptr) {
        return;
    }
    Transport& t = *ctx.transport;
    const int32_t h = s->Handle;
    ctx.ExtendedScan = kFalse;
    auto& reply = ctx.replies.ReplyBuffer;

    if (t.VendorR(h, kVendorInformation, 0, kVendorLength) == 0) {
        s->Status = kVendorInformation;
        return;
    }
    ctx.replies.ReadReplyBlock();
    if (reply[130] < kInformationMinimum || reply[130] > kInformationMaximum ||
        reply[131] < kLowestControllerCode) {
        return; // not a controller we format; the run goes on with Status as it is
    }
    s->ControllerCode = reply[131];

    if (!ReadChipList(ctx, slot)) {
        return;
    }

    for (int c = 0; c < s->ChipCount; ++c) {
        if (IsLargeBlock(ctx.ChipTable[static_cast<size_t>(c)].DeviceCode)) {
            if (t.VendorR(h, kVendorModeBlock, 0, kVendorLength) == 0) {
                s->Status = kVendorModeBlock;
                return;
            }
            ctx.replies.ReadReplyBlock();
            if (reply[0] == 0xFF && reply[1] == 0xFF) {
                ctx.ExtendedScan = kTrue;
            }
            break;
        }
    }

    for (int c = 0; c < s->ChipCount; ++c) {
        const int units = ctx.ChipTable[static_cast<size_t>(c)].Units;
        for (int u = 0; u < units; ++u) {
            const bool extended = ctx.ExtendedScan != kFalse;
            const uint16_t ok = extended ? t.VendorScan(h, kVendorScanUnit, c, u,
                                                        kExtendedScanParameter, 0, 0, kVendorLength)
                                         : t.Vendor(h, kVendorScanUnit, c, u, kVendorLength);
            if (ok == 0) {
                s->Status = kVendorScanUnit;
                return;
            }
            ctx.replies.ReadReplyBlock();
            const auto list = UnitListEntries(reply);
            const std::vector<uint8_t> entries(list.begin(), list.end());
            if (!extended) {
                continue;
            }
            for (uint8_t e : entries) {
                if (t.VendorScan(h, kVendorScanEntry, c, u, e, 0, 0, kVendorLength) == 0) {
                    s->Status = kVendorScanEntry;
                    return;
                }
            }
        }
    }
}

} // namespace ufd
