// [Window] Rows: how many slot rows the window shows, and where they go.
// Seven is the design: one column in the design's row area. Eight make that
// column one row taller. More go into two columns side by side, each at
// least seven rows tall, so that every control keeps its design size and a
// rack of sixteen fits a 1366 x 768 screen without scrolling.
#pragma once

namespace ufd {

inline constexpr double kRowAreaWidth = 8025;  // twips, the design's row area
inline constexpr double kRowAreaHeight = 6765; // holds seven rows

struct RowLayout {
    int shown = 7;          // rows 0..shown-1 are on screen
    int columns = 1;        // 1 or 2
    int perColumn = 7;      // rows in every column but the last
    double columnStep = 0;  // twips from a column to the next
    double extraHeight = 0; // twips the row area and the window grow by

    // The column of row k; a row past the last column stays in it, below.
    int ColumnOf(int row) const;
};

// The layout for a Rows setting (out of range: the nearest allowed) and the
// design's row step in twips.
RowLayout RowLayoutFor(int rows, double rowStep);

} // namespace ufd
