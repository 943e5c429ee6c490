// A timed wait that keeps the window live: it blocks in the event loop until
// an event arrives or the deadline passes, instead of spinning a core.
#pragma once

namespace ufd {

class Clock;
class EventPump;

// Seconds as single precision; returns once (now - start) > seconds, with
// the midnight wrap of a time-of-day clock. Clock and pump default to the
// system clock and the Qt event loop.
void WaitSeconds(float seconds);
void WaitSeconds(float seconds, Clock& clock, EventPump& pump);

} // namespace ufd
