#include "config/wait_seconds.h"

#include "platform/clock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ufd {
namespace {

// A time of day that moves only when the pump waits, by exactly the time
// the wait asked for, so a spinning or early-returning wait shows in the
// record of calls.
struct FakeDay {
    float now = 0;
    std::vector<int> waits;
};

class FakeClock final : public Clock {
public:
    explicit FakeClock(FakeDay& day) : day_(day) {}
    float SecondsSinceMidnight() override { return day_.now; }

private:
    FakeDay& day_;
};

class AdvancingPump final : public EventPump {
public:
    explicit AdvancingPump(FakeDay& day) : day_(day) {}
    void ProcessPending() override {}
    void WaitForEvents(int ms) override {
        day_.waits.push_back(ms);
        if (day_.waits.size() > 1000) {
            throw std::runtime_error("the wait does not end");
        }
        day_.now = std::fmod(day_.now + static_cast<float>(ms) / 1000.f, 86400.f);
    }

private:
    FakeDay& day_;
};

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

TEST(WaitSeconds, BlocksUntilTheDeadlineThenOneMillisecondMore) {
    FakeDay day;
    day.now = 100.f;
    FakeClock clock(day);
    AdvancingPump pump(day);
    WaitSeconds(0.5f, clock, pump);
    // 0.5 s exactly is not yet more than 0.5 s.
    EXPECT_EQ(day.waits, (std::vector<int>{500, 1}));
}

TEST(WaitSeconds, CrossesMidnight) {
    FakeDay day;
    day.now = 86399.95f;
    FakeClock clock(day);
    AdvancingPump pump(day);
    ASSERT_NO_THROW(WaitSeconds(0.1f, clock, pump));
    // It returned after midnight, not at it, and about 0.1 s after the start.
    EXPECT_LT(day.now, 1.f);
    EXPECT_GT(day.now + 86400.f - 86399.95f, 0.1f - 0.01f);
    EXPECT_LE(day.waits.size(), 3u);
}

struct ScriptCase {
    const char* name;
    float seconds;
    std::vector<float> readings; // the start first; the last one ends the wait
    size_t pumps;
};

void PrintTo(const ScriptCase& c, std::ostream* os) {
    *os << c.name;
}

class WaitScriptTest : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(WaitScriptTest, ReturnsAtTheFirstReadingPastTheWait) {
    const ScriptCase& c = GetParam();
    ScriptedClock clock(c.readings);
    CountingPump pump;
    ASSERT_NO_THROW(WaitSeconds(c.seconds, clock, pump));
    EXPECT_EQ(clock.reads(), c.readings.size());
    EXPECT_EQ(pump.waits.size(), c.pumps);
    for (int ms : pump.waits) {
        EXPECT_GE(ms, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Readings, WaitScriptTest,
    ::testing::Values(
        ScriptCase{"ZeroReturnsOnceTheClockMoved", 0.f, {100.f, 100.f, 100.f, 100.001f}, 2},
        ScriptCase{"EqualElapsedWaitsOn", 0.5f, {10.f, 10.5f, 10.5f, 10.5078125f}, 2},
        ScriptCase{"SinglePrecisionSteps", 0.001f, {86000.f, 86000.f, 86000.0078125f}, 1},
        ScriptCase{"MidnightAddsADay", 0.1f, {86399.95f, 86399.99f, 0.02f, 0.06f}, 2},
        ScriptCase{"ClockSetBackEndsTheWait", 5.f, {5000.f, 1400.f}, 0},
        ScriptCase{"NegativeWaitIsNoWait", -1.f, {10.f, 10.f}, 0},
        ScriptCase{"NotANumberIsNoWait", NAN, {10.f, 10.f, 10.5f}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WaitSeconds, AsksThePumpForTheTimeLeft) {
    ScriptedClock clock({0.f, 0.f, 0.25f, 0.4995f, 0.6f});
    CountingPump pump;
    WaitSeconds(0.5f, clock, pump);
    ASSERT_EQ(pump.waits.size(), 3u);
    EXPECT_EQ(pump.waits[0], 500);
    EXPECT_EQ(pump.waits[1], 250);
    EXPECT_EQ(pump.waits[2], 1); // half a millisecond left: at least 1
}

// Records events sent to it.
class EventSink : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            ++userEvents;
            return true;
        }
        return QObject::event(e);
    }
    int userEvents = 0;
};

TEST(WaitSecondsWithQt, TimersAndPostedEventsRunDuringTheWait) {
    ASSERT_NE(QCoreApplication::instance(), nullptr);
    EventSink sink;
    bool timerFired = false;
    QTimer::singleShot(20, [&] { timerFired = true; });
    QCoreApplication::postEvent(&sink, new QEvent(QEvent::User));
    // Posted from another thread while the wait is blocked.
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QCoreApplication::postEvent(&sink, new QEvent(QEvent::User));
    });
    WaitSeconds(0.3f);
    poster.join();
    EXPECT_TRUE(timerFired);
    EXPECT_EQ(sink.userEvents, 2);
}

TEST(WaitSecondsWithQt, PumpWakesOnAPostedEventLongBeforeItsDeadline) {
    // An hour's deadline: if a posted event did not wake the pump, this test
    // would hang and run into its time limit.
    EventSink sink;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        QCoreApplication::postEvent(&sink, new QEvent(QEvent::User));
    });
    QtEventPump pump;
    while (sink.userEvents == 0) {
        pump.WaitForEvents(3600 * 1000);
    }
    poster.join();
    EXPECT_EQ(sink.userEvents, 1);
}

TEST(WaitSecondsWithQt, SystemClockIsTheTimeOfDay) {
    SystemClock clock;
    const float seconds = clock.SecondsSinceMidnight();
    EXPECT_GE(seconds, 0.f);
    EXPECT_LT(seconds, 86400.f);
}

} // namespace
} // namespace ufd
