// LED flashing: failed drives are read from again and again so their LEDs
// blink, all of them or the one whose row was clicked.
#include "station/test_frm.h"

namespace ufd {

void TestFrm::LedCmd_Click() {
    QPointer<TestFrm> self(this);
    StationContext& ctx = ctx_;
    auto pump = deps_.pumpEvents;
    for (int pass = 1; pass <= kLedPasses; ++pass) {
        for (int n = 1; n <= ctx.slots.DiskCount; ++n) {
            const DiskSlot& slot = ctx.slots.DiskSlots[static_cast<size_t>(n - 1)];
            if (slot.Status != 0) {
                ctx.transport->Read(slot.Handle, 75, 0);
            }
        }
        if (pump) {
            pump();
        }
        if (!WindowAlive(self) || !LedCmd->isEnabled()) {
            return;
        }
    }
}

void TestFrm::FlashSlot(int recordIndex) {
    if (!LedCmd->isEnabled()) {
        return;
    }
    // Not compared with DiskCount, as the original never did, so a click
    // sends the reads it always sent: a row past the drives holds a released
    // record (handle 0), whose reads the library refuses without touching a
    // drive. An index past the table has no record and does nothing.
    if (recordIndex < 0 || recordIndex >= kMaxSlots) {
        return;
    }
    QPointer<TestFrm> self(this);
    StationContext& ctx = ctx_;
    auto pump = deps_.pumpEvents;
    if (ctx.slots.DiskSlots[static_cast<size_t>(recordIndex)].Status == 0) {
        return;
    }
    for (int pass = 1; pass <= kLedPasses; ++pass) {
        ctx.transport->Read(ctx.slots.DiskSlots[static_cast<size_t>(recordIndex)].Handle, 75, 0);
        if (pump) {
            pump();
        }
        if (!WindowAlive(self) || !LedCmd->isEnabled()) {
            return;
        }
    }
}

void TestFrm::ItemLab_Click(int16_t index) {
    ExplainRow(index);
    FlashSlot(SlotOfRow(index));
}
void TestFrm::ThumbImage_Click(int16_t index) {
    ExplainRow(index);
    FlashSlot(SlotOfRow(index));
}

} // namespace ufd
