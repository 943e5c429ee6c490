#include "device/write_protect.h"

#include "device/vendor_codes.h"

namespace ufd {

namespace {
constexpr size_t kWriteProtectByte = 82;
constexpr uint8_t kWriteProtected = 0x80;
} // namespace

int16_t CheckWriteProtect(StationContext& ctx, int16_t slot) {
    DiskSlot* s = ctx.slots.Slot(slot);
    if (s == nullptr) {
        return 0;
    }
    ctx.transport->TestUnitReady(s->Handle);
    ctx.transport->TestUnitReady(s->Handle);
    ctx.transport->ModeSense(s->Handle);
    ctx.replies.ReadReplyBlock();
    if (ctx.replies.ReplyBuffer[kWriteProtectByte] == kWriteProtected) {
        return 1;
    }
    s->Status = kStatusNotWriteProtected;
    return 0;
}

} // namespace ufd
