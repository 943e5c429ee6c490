#include "station/twips.h"

#include <QVariant>

#include <cmath>

namespace ufd {

namespace {
double Property(const QWidget* w, const char* name) {
    return w != nullptr ? w->property(name).toDouble() : 0.0;
}
} // namespace

int TwipsToPixels(double twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

void PlaceTwips(QWidget* w, double left, double top, double width, double height) {
    if (w == nullptr) {
        return;
    }
    w->setProperty("twipLeft", left);
    w->setProperty("twipTop", top);
    w->setProperty("twipWidth", width);
    w->setProperty("twipHeight", height);
    // Round the edges, not the sizes, so neighbouring controls stay flush.
    const int x = TwipsToPixels(left);
    const int y = TwipsToPixels(top);
    w->setGeometry(x, y, TwipsToPixels(left + width) - x, TwipsToPixels(top + height) - y);
}

double TwipLeft(const QWidget* w) {
    return Property(w, "twipLeft");
}
double TwipTop(const QWidget* w) {
    return Property(w, "twipTop");
}
double TwipWidth(const QWidget* w) {
    return Property(w, "twipWidth");
}
double TwipHeight(const QWidget* w) {
    return Property(w, "twipHeight");
}

} // namespace ufd
