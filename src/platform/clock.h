#pragma once

#include <chrono>

namespace ufd {

// Monotonic time for timing transfers (the media test's speed figures);
// tests put a clock of their own that a simulated drive moves on.
class SteadyClock {
public:
    virtual ~SteadyClock() = default;
    virtual std::chrono::steady_clock::time_point Now() = 0;
};

class SystemSteadyClock final : public SteadyClock {
public:
    std::chrono::steady_clock::time_point Now() override {
        return std::chrono::steady_clock::now();
    }
};

// The wait's clock: local time of day in seconds since midnight.
class Clock {
public:
    virtual ~Clock() = default;
    virtual float SecondsSinceMidnight() = 0;
};

class SystemClock final : public Clock {
public:
    float SecondsSinceMidnight() override;
};

// Lets pending window events run.
class EventPump {
public:
    virtual ~EventPump() = default;
    // Dispatch everything pending, without blocking.
    virtual void ProcessPending() = 0;
    // Block until an event arrives or maxMilliseconds pass, then dispatch.
    virtual void WaitForEvents(int maxMilliseconds) = 0;
};

class QtEventPump final : public EventPump {
public:
    void ProcessPending() override;
    void WaitForEvents(int maxMilliseconds) override;
};

SystemClock& DefaultClock();
SteadyClock& DefaultSteadyClock();
QtEventPump& DefaultEventPump();

} // namespace ufd
