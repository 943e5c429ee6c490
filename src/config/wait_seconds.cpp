#include "config/wait_seconds.h"

#include "platform/clock.h"

#include <algorithm>
#include <cmath>

namespace ufd {

namespace {

constexpr float kSecondsPerDay = 86400.f;

// How long the pump may block. A reading moves in steps of a millisecond, or
// of the float's own step later in the day (4 ms from 9 h), so the wait may end
// up to one step before the deadline: block until then, rounded down, and from
// there look again every millisecond. Rounded up, every 0.1 s wait overslept
// by one to five milliseconds; at least 1 ms, so a near deadline is no spin.
int MillisecondsLeft(float seconds, float elapsed, float now) {
    const double step = std::max(0.001, static_cast<double>(std::nextafter(now, INFINITY) - now));
    const double left =
        std::floor((static_cast<double>(seconds) - static_cast<double>(elapsed) - step) * 1000.0);
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
        pump.WaitForEvents(MillisecondsLeft(seconds, elapsed, now));
    }
}

void WaitSeconds(float seconds) {
    WaitSeconds(seconds, DefaultClock(), DefaultEventPump());
}

} // namespace ufd
