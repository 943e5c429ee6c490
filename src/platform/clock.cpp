#include "platform/clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTime>
#include <QTimer>

#include <chrono>
#include <thread>

namespace ufd {

float SystemClock::SecondsSinceMidnight() {
    return static_cast<float>(QTime::currentTime().msecsSinceStartOfDay()) / 1000.f;
}

void QtEventPump::ProcessPending() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void QtEventPump::WaitForEvents(int maxMilliseconds) {
    const int ms = maxMilliseconds < 1 ? 1 : maxMilliseconds;
    if (QCoreApplication::instance() == nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    // The timer only guarantees a wake-up at the deadline; any other event
    // (input, paint, a notice, another timer) ends the block earlier.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(ms);
    QEventLoop loop;
    loop.processEvents(QEventLoop::WaitForMoreEvents);
}

SystemClock& DefaultClock() {
    static SystemClock clock;
    return clock;
}

SteadyClock& DefaultSteadyClock() {
    static SystemSteadyClock clock;
    return clock;
}

QtEventPump& DefaultEventPump() {
    static QtEventPump pump;
    return pump;
}

} // namespace ufd
