#include "config/wait_seconds.h"

#include "platform/clock.h"

#include <algorithm>
#include <cmath>

namespace ufd {

namespace {

constexpr float kSecondsPerDay = 86400.f;

// How long the pump may block: until the deadline, at least 1 ms so that a
// deadline a fraction of a millisecond away does not turn into a spin.
int MillisecondsLeft(float seconds, float elapsed) {
    const double left = std::ceil((static_cast<double>(seconds) - elapsed) * 1000.0);
    return static_cast<int>(std::clamp(left, 1.0, 24.0 * 3600.0 * 1000.0));
}

} // namespace

void WaitSeconds(float seconds, Clock& clock, EventPump& pump) {
    if (std::isnan(seconds)) {
        seconds = 0; // would never compare greater: treat as no wait at all
    }
    const float start = clock.SecondsSinceMidnight();
    for (;;) {
        float now = clock.SecondsSinceMidnight();
        if (now < start) {
            now += kSecondsPerDay; // midnight has passed
        }
        const float elapsed = now - start;
        if (elapsed > seconds) {
            return;
        }
        pump.WaitForEvents(MillisecondsLeft(seconds, elapsed));
    }
}

void WaitSeconds(float seconds) {
    WaitSeconds(seconds, DefaultClock(), DefaultEventPump());
}

} // namespace ufd
