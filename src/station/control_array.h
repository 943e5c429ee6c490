// Control arrays: elements addressed by index, where an index without a
// control is a statement that is skipped (the station's continue-on-error
// rule) rather than a crash.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <vector>

namespace ufd {

template <typename T> class ControlArray {
public:
    // The element, or nullptr when the index has none.
    T* operator()(int index) const {
        if (index < 0 || index >= static_cast<int>(items_.size())) {
            return nullptr;
        }
        return items_[static_cast<size_t>(index)].data();
    }
    void Add(T* control) { items_.push_back(control); }
    int Count() const { return static_cast<int>(items_.size()); }

private:
    std::vector<QPointer<T>> items_;
};

// Statements on a possibly missing control: nothing happens on nullptr.
inline void SetVisible(QWidget* w, bool visible) {
    if (w != nullptr) {
        w->setVisible(visible);
    }
}
inline void SetEnabled(QWidget* w, bool enabled) {
    if (w != nullptr) {
        w->setEnabled(enabled);
    }
}
inline void SetCaption(QLabel* label, const QString& text) {
    if (label != nullptr) {
        label->setText(text);
    }
}
// The control's own Visible property, independent of whether its window
// is on screen.
inline bool IsShown(const QWidget* w) {
    return w != nullptr && !w->isHidden();
}
inline QString CaptionOf(const QLabel* label) {
    return label != nullptr ? label->text() : QString();
}

} // namespace ufd
