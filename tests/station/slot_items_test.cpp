// The items' work on one slot without any window: what it tells the view, in
// order, and that a view gone during the device call hears nothing more.
#include "station/drive_pictures.h"
#include "station/slot_items.h"
#include "support/recording_transport.h"

#include <gtest/gtest.h>

namespace ufd {
namespace {

class RecordingView final : public RunView {
public:
    std::vector<std::string> seen;
    bool goneAfterDevice = false;
    bool deviceCalled = false;

    bool Gone() override { return goneAfterDevice && deviceCalled; }
    void StartProgress(int row) override { Say("start", row); }
    void EndProgress(int row) override { Say("end", row); }
    void ShowResultPair(ResultColumn c, int row) override { Say("show", row, c); }
    void HideResultBox(ResultColumn c, ResultBox b, int row) override {
        Say(b == ResultBox::Green ? "hide green" : "hide red", row, c);
    }
    void SetResultCaption(ResultColumn c, ResultBox b, int row, const QString& text) override {
        Say((b == ResultBox::Green ? "green " : "red ") + text.toStdString(), row, c);
    }
    void SetPicture(int row, int picture) override {
        Say("picture " + std::to_string(picture), row);
    }
    void RepaintPicture(int row) override { Say("repaint", row); }

private:
    // "row:column what"; pictures have no column and say 0.
    void Say(const std::string& what, int row, ResultColumn c = ResultColumn::Format) {
        seen.push_back(std::to_string(row) + ":" + std::to_string(static_cast<int>(c)) + " " +
                       what);
    }
};

TEST(SlotItems, ReportToTheViewInOrderAndStopWhenItIsGone) {
    test::RecordingTransport transport;
    const std::string failed = "picture " + std::to_string(kPictureFailed);

    struct Case {
        const char* name;
        std::function<SlotOutcome(const SlotWork&, CarriedCaptions&)> run;
        SlotOutcome outcome;
        std::vector<std::string> seen;
    };
    const Case cases[] = {
        {"format fails on the chip scan",
         [](const SlotWork& w, CarriedCaptions& c) { return FormatSlot(w, 1, c); },
         SlotOutcome::Failed,
         {"1:0 start", "1:0 end", "1:0 show", "1:0 " + failed, "1:0 green X",
          "1:0 red Error Status = 75"}},
        {"identity written",
         [](const SlotWork& w, CarriedCaptions& c) { return ManufactureSlot(w, 1, c); },
         SlotOutcome::Ok,
         {"1:1 show", "1:1 green String = V", "1:1 red Write = V"}},
        {"config check fails",
         [](const SlotWork& w, CarriedCaptions& c) { return CheckConfigSlot(w, 1, c); },
         SlotOutcome::Failed,
         {"1:2 show", "1:0 " + failed, "1:2 green X", "1:2 red Error Status = 75"}},
        {"write protected",
         [](const SlotWork& w, CarriedCaptions&) { return CheckWriteProtectSlot(w, 1); },
         SlotOutcome::Ok,
         {"1:3 show", "1:3 hide red", "1:3 green Write Protected"}},
    };
    for (const Case& c : cases) {
        for (const bool gone : {false, true}) {
            StationContext ctx{transport};
            ctx.slots.DiskCount = 2;
            RecordingView view;
            view.goneAfterDevice = gone;
            // Every procedure fails with 0x75 where it can; Manufacture and
            // Check WP pass.
            auto fail = [&](StationContext& x, int16_t n) {
                view.deviceCalled = true;
                x.slots.Slot(n)->Status = 0x75;
                return int16_t{0};
            };
            DeviceProcedures dev;
            dev.ScanChips = [&](StationContext& x, int16_t n) { fail(x, n); };
            dev.CheckIdentity = fail;
            dev.WriteIdentity = [&](StationContext&, int16_t, int16_t) {
                return int16_t{view.deviceCalled = true};
            };
            dev.CheckWriteProtect = [&](StationContext&, int16_t) {
                return int16_t{view.deviceCalled = true};
            };
            const std::function<void(float)> wait;
            CarriedCaptions carried;
            const SlotOutcome outcome = c.run(SlotWork{ctx, dev, wait, view}, carried);
            EXPECT_EQ(outcome, gone ? SlotOutcome::Gone : c.outcome) << c.name;
            // Gone: only what came before the device call (Format's bar start,
            // a pair shown) may have reached the view.
            std::vector<std::string> expected = c.seen;
            if (gone) {
                expected.resize(1);
            }
            EXPECT_EQ(view.seen, expected) << c.name << (gone ? ", gone" : "");
        }
    }
}

} // namespace
} // namespace ufd
