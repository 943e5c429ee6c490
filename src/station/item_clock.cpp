#include "station/item_clock.h"

#include <QElapsedTimer>

#include <type_traits>

namespace ufd {

DeviceProcedures ItemClock::Timed(const DeviceProcedures& dev) {
    DeviceProcedures timed = dev;
    auto wrap = [this](int item, auto procedure) {
        return [this, item, procedure](StationContext& c, int16_t slot, auto... rest) {
            QElapsedTimer clock;
            clock.start();
            auto finish = [&] { Note(item, c, slot, clock.elapsed()); };
            if constexpr (std::is_void_v<decltype(procedure(c, slot, rest...))>) {
                procedure(c, slot, rest...);
                finish();
            } else {
                const auto r = procedure(c, slot, rest...);
                finish();
                return r;
            }
        };
    };
    if (dev.ScanChips) {
        timed.ScanChips = wrap(0, dev.ScanChips);
    }
    if (dev.LowLevelFormat) {
        timed.LowLevelFormat = wrap(0, dev.LowLevelFormat);
    }
    if (dev.WriteIdentity) {
        timed.WriteIdentity = wrap(1, dev.WriteIdentity);
    }
    if (dev.CheckIdentity) {
        timed.CheckIdentity = wrap(2, dev.CheckIdentity);
    }
    if (dev.CheckWriteProtect) {
        timed.CheckWriteProtect = wrap(3, dev.CheckWriteProtect);
    }
    return timed;
}

void ItemClock::Note(int item, StationContext& ctx, int16_t slot, qint64 ms) {
    const DiskSlot* record = ctx.slots.Slot(slot);
    if (record == nullptr) {
        return;
    }
    Timing& t = timings_[static_cast<size_t>(slot - 1)][static_cast<size_t>(item)];
    t.ran = true;
    t.status = record->Status;
    t.ms += ms;
}

ItemClock::Timing ItemClock::Of(int slot, int item) const {
    if (slot < 0 || slot >= kMaxSlots || item < 0 || item >= kStateItems) {
        return {};
    }
    return timings_[static_cast<size_t>(slot)][static_cast<size_t>(item)];
}

} // namespace ufd
