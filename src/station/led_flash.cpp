// LED flashing: failed drives are read from again and again so their LEDs
// blink, all of them or the one whose row was clicked. Which drives failed
// is the run's state; where each is now, discovery's.
#include "station/station_form.h"

namespace ufd {

namespace {

// The slot record now holding the drive the run had in slot; -1 when it is gone.
int RecordNow(const RunState& state, const std::vector<int>& probed, int slot) {
    const DriveState* d = state.Drive(slot);
    if (d == nullptr) {
        return -1;
    }
    if (slot < static_cast<int>(probed.size()) &&
        probed[static_cast<size_t>(slot)] == d->probeIndex) {
        return slot;
    }
    for (size_t r = 0; r < probed.size(); ++r) {
        if (d->probeIndex >= 0 && probed[r] == d->probeIndex) {
            return static_cast<int>(r);
        }
    }
    return -1;
}

} // namespace

void TestFrm::LedCmd_Click() {
    QPointer<TestFrm> self(this);
    StationContext& ctx = ctx_;
    auto pump = deps_.pumpEvents;
    for (int pass = 1; pass <= kLedPasses; ++pass) {
        for (const int slot : state_->FailedSlots()) {
            const int record = RecordNow(*state_, probeIndexes_, slot);
            if (record >= 0 && record < ctx.slots.DiskCount) {
                ctx.transport->Read(ctx.slots.DiskSlots[static_cast<size_t>(record)].Handle, 75, 0);
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
    // A drive of the last run: whether it failed is the run's to say.
    const DriveState* ran = nullptr;
    for (size_t s = 0; s < state_->drives.size(); ++s) {
        if (RecordNow(*state_, probeIndexes_, static_cast<int>(s)) == recordIndex) {
            ran = &state_->drives[s];
        }
    }
    if (ran != nullptr ? !ran->Failed()
                       : ctx.slots.DiskSlots[static_cast<size_t>(recordIndex)].Status == 0) {
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
