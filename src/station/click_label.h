// A label that reports clicks with its element index (ItemLab, ThumbImage).
#pragma once

#include <QLabel>
#include <QMouseEvent>

#include <functional>

namespace ufd {

class ClickLabel : public QLabel {
public:
    using QLabel::QLabel;
    int index = 0;
    std::function<void(int)> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent* e) override {
        QLabel::mouseReleaseEvent(e);
        if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && onClick) {
            // Copy first: the handler may run a long loop that outlives a
            // reassignment of onClick.
            auto handler = onClick;
            handler(index);
        }
    }
};

} // namespace ufd
