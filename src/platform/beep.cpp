#include "platform/beep.h"

#include <QApplication>

#include <utility>

namespace ufd {

namespace {

std::function<void()>& BeepHandler() {
    static std::function<void()> handler;
    return handler;
}

} // namespace

void Beep() {
    if (const std::function<void()> handler = BeepHandler()) {
        handler();
        return;
    }
    // Without a GUI application there is no platform to beep with.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        QApplication::beep();
    }
}

void SetBeepHandler(std::function<void()> handler) {
    BeepHandler() = std::move(handler);
}

} // namespace ufd
