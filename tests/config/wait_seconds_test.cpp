#include "config/wait_seconds.h"

#include "platform/clock.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <thread>

namespace ufd {
namespace {

// Readings given one by one; the pump only counts.
class ScriptedClock final : public Clock {
public:
    explicit ScriptedClock(std::vector<float> readings) : readings_(std::move(readings)) {}
    float SecondsSinceMidnight() override {
        if (next_ >= readings_.size()) {
            throw std::runtime_error("read the clock after it should have returned");
        }
        return readings_[next_++];
    }
    size_t reads() const { return next_; }

private:
    std::vector<float> readings_;
    size_t next_ = 0;
};

class CountingPump final : public EventPump {
public:
    void ProcessPending() override {}
    void WaitForEvents(int ms) override { waits.push_back(ms); }
    std::vector<int> waits;
};

// Each pump wait asks for the time left, rounded up, at least 1 ms.
TEST(WaitSeconds, ReturnsAtTheFirstReadingPastTheWait) {
    struct Case {
        const char* name;
        float seconds;
        std::vector<float> readings; // the start first; the last one ends the wait
        std::vector<int> waits;
    };
    // clang-format off
    const Case cases[] = {{"ZeroReturnsOnceTheClockMoved", 0.f, {100.f, 100.f, 100.f, 100.001f}, {1, 1}},
                          {"EqualElapsedWaitsOn", 0.5f, {10.f, 10.5f, 10.5f, 10.5078125f}, {1, 1}},
                          {"SinglePrecisionSteps", 0.001f, {86000.f, 86000.f, 86000.0078125f}, {2}},
                          {"MidnightAddsADay", 0.1f, {86399.95f, 86399.99f, 0.02f, 0.06f}, {61, 30}},
                          {"ClockSetBackEndsTheWait", 5.f, {5000.f, 1400.f}, {}},
                          {"NegativeWaitIsNoWait", -1.f, {10.f, 10.f}, {}},
                          {"NotANumberIsNoWait", NAN, {10.f, 10.f, 10.5f}, {1}},
                          {"TimeLeft", 0.5f, {0.f, 0.f, 0.25f, 0.4995f, 0.6f}, {500, 250, 1}}};
    // clang-format on
    for (const Case& c : cases) {
        ScriptedClock clock(c.readings);
        CountingPump pump;
        ASSERT_NO_THROW(WaitSeconds(c.seconds, clock, pump)) << c.name;
        EXPECT_EQ(clock.reads(), c.readings.size()) << c.name;
        EXPECT_EQ(pump.waits, c.waits) << c.name;
    }
}

TEST(WaitSecondsWithQt, TimersAndPostedEventsRunDuringTheWait) {
    ASSERT_NE(QCoreApplication::instance(), nullptr);
    QObject receiver;
    int posted = 0;
    bool timerFired = false;
    QTimer::singleShot(20, [&] { timerFired = true; });
    QMetaObject::invokeMethod(
        &receiver, [&] { ++posted; }, Qt::QueuedConnection);
    // Posted from another thread while the wait is blocked.
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QMetaObject::invokeMethod(
            &receiver, [&] { ++posted; }, Qt::QueuedConnection);
    });
    WaitSeconds(0.3f);
    poster.join();
    EXPECT_TRUE(timerFired);
    EXPECT_EQ(posted, 2);
}

} // namespace
} // namespace ufd
