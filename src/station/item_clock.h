// How long each item's device procedures took on each slot, and the slot's
// Status after them. Each slot's entries are written only by the thread
// that works on that slot and read once its results are shown.
#pragma once

#include "station/dependencies.h"
#include "station/run_state.h"

#include <array>

namespace ufd {

class ItemClock {
public:
    struct Timing {
        bool ran = false;
        int status = 0;
        qint64 ms = 0;
    };

    // dev, each procedure timed for its slot and item; Format's two
    // procedures add up to one item.
    DeviceProcedures Timed(const DeviceProcedures& dev);
    void Reset() { timings_ = {}; }
    Timing Of(int slot, int item) const;

private:
    void Note(int item, StationContext& ctx, int16_t slot, qint64 ms);

    std::array<std::array<Timing, kStateItems>, kMaxSlots> timings_{};
};

} // namespace ufd
