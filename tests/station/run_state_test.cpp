// The items' work on one slot without any window: the run's state as they
// write it (each item's outcome, the first failure beside the last status,
// the reason of a drive pulled during the run), and what they tell the view,
// in order, until it is gone.
#include "results/status_reasons.h"
#include "station/drive_pictures.h"
#include "station/run_state.h"
#include "station/slot_items.h"
#include "station/state_run_view.h"
#include "support/recording_transport.h"
#include "support/test_common.h"

namespace ufd {
namespace {

// Writes down what it is told, in order ("row:column what"); gone once the
// device was called, when asked to be.
struct RecordingView final : RunView {
    std::string seen;
    bool goneAfterDevice = false, deviceCalled = false;

    bool Gone() override { return goneAfterDevice && deviceCalled; }
    void StartProgress(int row) override { Say(row, {}, "start"); }
    void EndProgress(int row) override { Say(row, {}, "end"); }
    void ShowResultPair(ResultColumn c, int row) override { Say(row, c, "show"); }
    void HideResultBox(ResultColumn c, ResultBox b, int r) override { Say(r, c, "hide ", Box(b)); }
    void SetResultCaption(ResultColumn c, ResultBox b, int row, const QString& text) override {
        Say(row, c, Box(b), " ", text.toStdString());
    }
    void SetPicture(int r, int p) override { Say(r, {}, "picture ", DrivePictureName(p)); }
    void RepaintPicture(int row) override { Say(row, {}, "repaint"); }
    void ExplainFailure(ResultColumn c, int row) override { Say(row, c, "why"); }
    static std::string Box(ResultBox b) { return b == ResultBox::Green ? "green" : "red"; }
    template <typename... Text> void Say(int r, ResultColumn c, const Text&... what) {
        seen += (seen.empty() ? "" : ", ") + std::to_string(r) + ':' + std::to_string(int(c)) + ' ';
        ((seen += what), ...);
    }
};

// What the drive does: the Status its chip scan leaves, WriteIdentity's
// answer, the Status a failing CheckIdentity leaves (0: it passes), and
// CheckWriteProtect's answer.
struct Drive {
    int16_t scan = 0;
    int16_t write = 1;
    int16_t check = 0;
    int16_t protect = 1;
};

struct Expected {
    int firstItem;
    int firstStatus;
    int status;
    QString reason;
    std::string failedItems; // one character per item: 1 failed it
    QString lowerFormat;
};

TEST(RunState, EachItemsOutcomeAndTheFirstFailure) {
    const std::pair<Drive, Expected> cases[] = {
        {{}, {-1, 0, 0, "", "0000", "0 Chip(s)   0 MB"}},
        // Format fails with 0x10 and Check Config then with 0xF4: the root cause is 0x10.
        {{0x10, 1, 0xF4, 1}, {0, 0x10, 0xF4, StatusReasonText(0x10), "1010", "Error Status = 10"}},
        {{0, 0, 0, 1}, {1, 0, 0, "identity not written", "0100", "0 Chip(s)   0 MB"}},
        {{0, 1, 0xF4, 0}, {2, 0xF4, 0xF4, StatusReasonText(0xF4), "0011", "0 Chip(s)   0 MB"}},
        {{0, 1, 0, 0}, {3, 0, 0, "not write protected", "0001", "0 Chip(s)   0 MB"}},
    };
    test::RecordingTransport transport;
    for (const auto& [drive, want] : cases) {
        SCOPED_TRACE(want.failedItems);
        const DeviceProcedures dev{
            [&drive](StationContext& c, int16_t n) { c.slots.Slot(n)->Status = drive.scan; },
            {},
            [&drive](StationContext&, int16_t, int16_t) { return drive.write; },
            [&drive](StationContext& c, int16_t n) {
                if (drive.check != 0) {
                    c.slots.Slot(n)->Status = drive.check;
                }
                return static_cast<int16_t>(drive.check == 0 ? 2 : 0);
            },
            [&drive](StationContext&, int16_t) { return drive.protect; }};
        StationContext ctx{transport};
        ctx.slots.DiskCount = 1;
        RunState state;
        state.Begin(1, "2026-01-01T00:00:00.000Z");
        RecordingView rows;
        StateRunView view(state, rows,
                          [&ctx](int slot) { return ctx.slots.Slot(slot + 1)->Status; });
        CarriedCaptions carried;
        for (RunItem item : {RunItem::Format, RunItem::Manufacture, RunItem::CheckConfig,
                             RunItem::CheckWriteProtect}) {
            EXPECT_NE(ItemSlot(item, SlotWork{ctx, dev, {}, view}, 0, carried), SlotOutcome::Gone);
        }
        state.Finish({ctx.slots.DiskSlots[0].Status}, {}, "2026-01-01T00:00:01.000Z");
        const DriveState& d = state.drives.at(0);
        std::string failed;
        for (const ItemState& i : d.items) {
            failed += i.failed ? '1' : '0';
        }
        EXPECT_EQ(std::tuple(d.firstItem, d.firstStatus, d.status, FirstReason(d), failed,
                             d.items[0].lower.text, state.Verdict()),
                  std::tuple(want.firstItem, want.firstStatus, want.status, want.reason,
                             want.failedItems, want.lowerFormat,
                             want.firstItem < 0 ? kAllPass : kFailed));
        // Pulled during the run: that is the reason, whatever the items said.
        state.drives[0].pulled = true;
        EXPECT_EQ(FirstReason(state.drives[0]), kPulledReason);
    }
}

// A new run starts empty, and a slot outside the run changes nothing.
TEST(RunState, BeginEmptiesAndOutsideSlotsAreIgnored) {
    RunState state;
    state.Begin(2, "a");
    state.ItemFailed(0, ResultColumn::Config, 0x82);
    state.ItemFailed(5, ResultColumn::Format, 0x10);
    state.SetCaption(-1, ResultColumn::Format, ResultBox::Red, "x");
    state.ItemRan(1, 7, 3, 10);
    state.Finish({0x82, 0}, {}, "b");
    EXPECT_EQ(std::tuple(state.FailedSlots(), state.drives[0].firstItem, state.Verdict(),
                         state.drives[1] == DriveState{}),
              std::tuple(std::vector<int>{0}, 2, kFailed, true));
    state.Begin(1, "c");
    EXPECT_EQ(std::tuple(state.drives.size(), state.Verdict(), state.drives[0] == DriveState{}),
              std::tuple(size_t{1}, QString(), true));
}

TEST(SlotItems, ReportToTheViewInOrderAndStopWhenItIsGone) {
    // Every procedure fails with 0x75 where it can; Manufacture and Check WP pass.
    const std::tuple<RunItem, SlotOutcome, std::string> cases[] = {
        {RunItem::Format, SlotOutcome::Failed,
         "1:0 start, 1:0 end, 1:0 show, 1:0 picture red, 1:0 green X, 1:0 red Error Status = 75, "
         "1:0 why"},
        {RunItem::Manufacture, SlotOutcome::Ok,
         "1:1 show, 1:1 green String = V, 1:1 red Write = V"},
        {RunItem::CheckConfig, SlotOutcome::Failed,
         "1:2 show, 1:0 picture red, 1:2 green X, 1:2 red Error Status = 75, 1:2 why"},
        {RunItem::CheckWriteProtect, SlotOutcome::Ok,
         "1:3 show, 1:3 hide red, 1:3 green Write Protected"}};
    test::RecordingTransport transport;
    RecordingView view;
    auto fail = [&](StationContext& x, int16_t n) {
        view.deviceCalled = true;
        x.slots.Slot(n)->Status = 0x75;
        return int16_t{0};
    };
    auto pass = [&](auto&&...) { return int16_t{view.deviceCalled = true}; };
    const DeviceProcedures dev{
        [&](StationContext& x, int16_t n) { fail(x, n); }, {}, pass, fail, pass};
    for (const auto& [item, outcome, seen] : cases) {
        for (const bool gone : {false, true}) {
            SCOPED_TRACE(seen + (gone ? ", gone" : ""));
            StationContext ctx{transport};
            view = {};
            view.goneAfterDevice = gone;
            CarriedCaptions carried;
            EXPECT_EQ(ItemSlot(item, SlotWork{ctx, dev, {}, view}, 1, carried),
                      gone ? SlotOutcome::Gone : outcome);
            // Gone: only what came before the device call (Format's bar start,
            // a pair shown) may have reached the view.
            EXPECT_EQ(view.seen, gone ? seen.substr(0, seen.find(',')) : seen);
        }
    }
}

} // namespace
} // namespace ufd
