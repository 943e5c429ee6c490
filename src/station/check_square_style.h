// The check boxes' square at the classic 13 pixels: the design sized its
// boxes for it, and "Check WP" is exactly 13 pixels high, where a larger
// square loses its bottom edge.
#pragma once

#include <QProxyStyle>

namespace ufd {

inline constexpr int kCheckSquarePixels = 13;

// Follows the application's style in everything else.
class CheckSquareStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
};

} // namespace ufd
