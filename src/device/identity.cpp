#include "device/identity.h"

#include "config/ansi.h"
#include "device/vendor_codes.h"

#include <optional>

namespace ufd {
namespace {

// What fits the block: each string descriptor's length must fit a byte and
// the whole block 512 bytes.
constexpr int kMaxStringCharacters = 126;
constexpr int kMaxStringsTogether = 227;
constexpr int kScsiManufactureWidth = 8;
constexpr int kScsiProductWidth = 16;

constexpr uint8_t kDeviceDescriptor[18] = {0x12, 0x01, 0x10, 0x01, 0x00, 0x00, 0x00, 0x08, 0,
                                           0,    0,    0,    0x00, 0x01, 0x01, 0x02, 0x00, 0x01};
constexpr size_t kVidOffsetInDescriptor = 8;
constexpr char kVersionText[] = "7.77";

std::optional<uint16_t> HexWord(const QString& text) {
    if (text.size() != 4) {
        return std::nullopt;
    }
    bool ok = false;
    const uint value = text.toUInt(&ok, 16);
    for (QChar c : text) {
        ok = ok && c.unicode() < 128 && std::isxdigit(c.unicode());
    }
    return ok ? std::optional<uint16_t>(static_cast<uint16_t>(value)) : std::nullopt;
}

void PutStringDescriptor(Sector& block, size_t at, const QByteArray& text) {
    block[at] = static_cast<uint8_t>(2 * text.size() + 2);
    block[at + 1] = 0x03;
    for (int i = 0; i < text.size(); ++i) {
        block[at + 2 + 2 * static_cast<size_t>(i)] = static_cast<uint8_t>(text[i]);
        block[at + 3 + 2 * static_cast<size_t>(i)] = 0x00;
    }
}

void PutPadded(Sector& block, size_t at, const QByteArray& text, int width) {
    for (int i = 0; i < width; ++i) {
        block[at + static_cast<size_t>(i)] =
            i < text.size() ? static_cast<uint8_t>(text[i]) : uint8_t{0x20};
    }
}

} // namespace

int16_t WriteIdentity(StationContext& ctx, int16_t slot, int16_t writeFlag) {
    DiskSlot* s = ctx.slots.Slot(slot);
    Sector& block = ctx.ConfigBlock;
    block.fill(0);
    const ProductConfig& p = ctx.Product;
    auto fail = [&](int16_t status) {
        if (s != nullptr) {
            s->Status = status;
        }
        return kIdentityIncomplete;
    };
    if (p.Vid.isEmpty() || p.Pid.isEmpty() || p.UsbManufactureString.isEmpty() ||
        p.UsbProductString.isEmpty() || p.ScsiManufactureString.isEmpty() ||
        p.ScsiProductString.isEmpty()) {
        return fail(kStatusIdentityIncomplete);
    }
    const auto vid = HexWord(p.Vid);
    const auto pid = HexWord(p.Pid);
    const auto usbM = ToAnsi(p.UsbManufactureString);
    const auto usbP = ToAnsi(p.UsbProductString);
    // Only what reaches the block must have a single-byte code: a character
    // past the SCSI fields' cut is never sent.
    const auto scsiM = ToAnsi(p.ScsiManufactureString.left(kScsiManufactureWidth));
    const auto scsiP = ToAnsi(p.ScsiProductString.left(kScsiProductWidth));
    if (!vid || !pid || !usbM || !usbP || !scsiM || !scsiP || usbM->size() > kMaxStringCharacters ||
        usbP->size() > kMaxStringCharacters || usbM->size() + usbP->size() > kMaxStringsTogether) {
        return fail(kStatusIdentityDoesNotFit); // never a truncated or wrapped block
    }

    const auto lm = static_cast<size_t>(usbM->size());
    const auto lp = static_cast<size_t>(usbP->size());
    const size_t b = 26 + 2 * lm + 2 * lp;
    block[0] = 0x99;
    block[1] = 0x07;
    block[2] = static_cast<uint8_t>(2 * lm + 2);
    block[3] = static_cast<uint8_t>(2 * lp + 2);
    std::copy(std::begin(kDeviceDescriptor), std::end(kDeviceDescriptor), block.begin() + 4);
    block[4 + kVidOffsetInDescriptor] = static_cast<uint8_t>(*vid & 0xFF);
    block[5 + kVidOffsetInDescriptor] = static_cast<uint8_t>(*vid >> 8);
    block[6 + kVidOffsetInDescriptor] = static_cast<uint8_t>(*pid & 0xFF);
    block[7 + kVidOffsetInDescriptor] = static_cast<uint8_t>(*pid >> 8);
    PutStringDescriptor(block, 22, *usbM);
    PutStringDescriptor(block, 24 + 2 * lm, *usbP);
    PutPadded(block, b, *scsiM, kScsiManufactureWidth);
    PutPadded(block, b + kScsiManufactureWidth, *scsiP, kScsiProductWidth);
    for (size_t i = 0; i < 4; ++i) {
        block[b + 24 + i] = static_cast<uint8_t>(kVersionText[i]);
    }
    unsigned sum = 0;
    for (size_t i = 0; i <= b + 27; ++i) {
        sum += block[i];
    }
    block[b + 28] = static_cast<uint8_t>(sum & 0xFF);
    block[b + 29] = 0xAA;
    block[b + 30] = 0x55;

    if (writeFlag != kTrue) {
        return 0;
    }
    const int32_t handle = s != nullptr ? s->Handle : 0;
    if (ctx.transport->VendorW(handle, kVendorWriteConfig, kVendorLength, block.data()) == 0) {
        if (s != nullptr) {
            s->Status = kStatusConfigWriteRefused;
        }
        return kIdentityRefused;
    }
    return kIdentityWritten;
}

int16_t CheckIdentity(StationContext& ctx, int16_t slot) {
    DiskSlot* s = ctx.slots.Slot(slot);
    if (s == nullptr) {
        return kIdentityUnreadable;
    }
    if (ctx.transport->VendorR(s->Handle, kVendorReadConfig, 0, kVendorLength) == 0) {
        s->Status = kVendorReadConfig;
        return kIdentityUnreadable;
    }
    ctx.replies.ReadReplyBlock();
    WriteIdentity(ctx, slot, kFalse);
    for (size_t i = 0; i < kSectorSize; ++i) {
        if (ctx.ConfigBlock[i] != ctx.replies.ReplyBuffer[i]) {
            s->Status = kStatusIdentityMismatch;
            return kIdentityDiffers;
        }
    }
    return kIdentityMatches;
}

} // namespace ufd
