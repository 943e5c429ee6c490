// The writers' outgoing data lives in the program-wide reply buffer.
#pragma once

#include "context/station_context.h"

#include <cstdint>

namespace ufd {

// The buffer at its full size (it is the program's own, so a shrunken one is
// simply grown back rather than overrun).
inline uint8_t* OutgoingBuffer(StationContext& ctx) {
    auto& buffer = ctx.replies.ReplyBuffer;
    if (buffer.size() < kReplyBufferSize) {
        buffer.resize(kReplyBufferSize, 0);
    }
    return buffer.data();
}

// The handle of a slot number, or nullopt when there is no such record.
inline std::optional<int32_t> SlotHandle(StationContext& ctx, int16_t slot) {
    const DiskSlot* d = ctx.slots.Slot(slot);
    return d != nullptr ? std::optional<int32_t>(d->Handle) : std::nullopt;
}

} // namespace ufd
