// Positions in twips, as the window was designed, at 15 twips per pixel.
// The twip values are kept on the control so that a position read back is
// the one written, not the rounded pixel.
#pragma once

#include <QWidget>

namespace ufd {

inline constexpr double kTwipsPerPixel = 15.0;

int TwipsToPixels(double twips);
void PlaceTwips(QWidget* w, double left, double top, double width, double height);
double TwipLeft(const QWidget* w);
double TwipTop(const QWidget* w);
double TwipWidth(const QWidget* w);
double TwipHeight(const QWidget* w);

} // namespace ufd
