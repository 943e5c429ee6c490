// The window for more slot rows than the design's seven ([Window] Rows):
// a taller row area, or a second column of rows with its own column headers
// and separators; the controls right of and below the rows move along.
// With seven rows nothing is touched.
#pragma once

#include "station/row_layout.h"

namespace ufd {

class TestFrm;

// After the design is built: sizes the window and the row area.
void WidenForRows(TestFrm& frm, const RowLayout& layout);
// After the rows are built one below the other: moves the rows of the second
// column beside the first, each level with its counterpart.
void PlaceRowColumns(TestFrm& frm, const RowLayout& layout);

} // namespace ufd
