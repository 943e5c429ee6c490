// What the test run reports to while it works on a slot: result boxes,
// pictures and progress bars of one row, without knowing widgets. The window
// answers through WindowRunView; the per-slot work in slot_items.h only ever
// talks to this.
#pragma once

#include <QString>

namespace ufd {

// The result columns of a row, by their pair of boxes (green above, red below).
// The 1M item and Check Config share the CC1m pair.
enum class ResultColumn { Format, Identity, Config, WriteProtect };
enum class ResultBox { Green, Red };

class RunView {
public:
    virtual ~RunView() = default;
    // True once the window is gone or closing; from then on nothing else
    // here may be called.
    virtual bool Gone() = 0;
    // The row's bar at zero and shown; full and hidden again.
    virtual void StartProgress(int row) = 0;
    virtual void EndProgress(int row) = 0;
    virtual void ShowResultPair(ResultColumn column, int row) = 0;
    virtual void HideResultBox(ResultColumn column, ResultBox box, int row) = 0;
    virtual void SetResultCaption(ResultColumn column, ResultBox box, int row,
                                  const QString& text) = 0;
    virtual void SetPicture(int row, int picture) = 0;
    // The column's item just failed the slot: its reason, in words, from the
    // slot's Status as the item left it.
    virtual void ExplainFailure(ResultColumn column, int row) = 0;
    // Draws the row's picture now, not when events next run.
    virtual void RepaintPicture(int row) = 0;
};

} // namespace ufd
