// The chip scan: the first step of "Format". Reads the controller's
// information block and chip list and walks every unit of every chip.
#pragma once

#include "context/station_context.h"

#include <cstdint>
#include <optional>
#include <span>

namespace ufd {

// Fills ctx.ChipTable and the slot's ChipCount from the chip list in
// ReplyBuffer. A list without its 0xAA terminator in its 512 bytes is not a
// chip list: nothing is copied and false is returned.
bool BuildChipTable(StationContext& ctx, int16_t slot);

// The slot a command may go to: null for a slot that does not exist, and for
// one without a handle (its Status then says 0xFE).
DiskSlot* SlotWithHandle(StationContext& ctx, int16_t slot);

// Asks for the chip list (0x93) and builds the chip table from it; a failed
// command or a list without terminator leaves 0x93 in Status.
bool ReadChipList(StationContext& ctx, int16_t slot);

// No result; a failure leaves its code in the slot's Status.
void ScanChips(StationContext& ctx, int16_t slot);

// Entries of the unit list in a reply: bytes from 1 on up to the pair
// 0xAA 0x55 (its first byte at 1..510), at most 510.
std::span<const uint8_t> UnitListEntries(std::span<const uint8_t> reply);

} // namespace ufd
