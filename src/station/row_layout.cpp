#include "station/row_layout.h"

#include "settings/station_settings.h"

#include <algorithm>

namespace ufd {

int RowLayout::ColumnOf(int row) const {
    return std::clamp(row / perColumn, 0, columns - 1);
}

RowLayout RowLayoutFor(int rows, double rowStep) {
    RowLayout layout;
    layout.shown = std::clamp(rows, kMinWindowRows, kMaxWindowRows);
    // One column up to one row beyond the design; then two halves.
    layout.columns = layout.shown <= kMinWindowRows + 1 ? 1 : 2;
    layout.perColumn =
        std::max(kMinWindowRows, (layout.shown + layout.columns - 1) / layout.columns);
    layout.columnStep = layout.columns > 1 ? kRowAreaWidth : 0;
    layout.extraHeight = (layout.perColumn - kMinWindowRows) * rowStep;
    return layout;
}

} // namespace ufd
