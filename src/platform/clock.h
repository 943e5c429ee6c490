#pragma once

namespace ufd {

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
QtEventPump& DefaultEventPump();

} // namespace ufd
