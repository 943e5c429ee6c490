#include "station/check_square_style.h"

namespace ufd {

int CheckSquareStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                  const QWidget* widget) const {
    if (metric == PM_IndicatorWidth || metric == PM_IndicatorHeight) {
        return kCheckSquarePixels;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

} // namespace ufd
