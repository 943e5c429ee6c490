// CPU seconds used by one 0.5 s wait, as a counter: the blocking pump
// against a pump that only dispatches what is pending (a spinning wait).
#include "config/wait_seconds.h"
#include "platform/clock.h"

#include <QCoreApplication>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class SpinningPump final : public ufd::EventPump {
public:
    void ProcessPending() override { QCoreApplication::processEvents(); }
    void WaitForEvents(int) override { ProcessPending(); }
};

template <typename Pump> void WaitHalfASecond(benchmark::State& state) {
    Pump pump;
    // A window's worth of background activity: a 50 ms timer ticking.
    QTimer ticker;
    int ticks = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    double cpu = 0;
    for (auto _ : state) {
        const double before = CpuSeconds();
        ufd::WaitSeconds(0.5f, ufd::DefaultClock(), pump);
        cpu += CpuSeconds() - before;
    }
    state.counters["cpu_seconds_per_wait"] =
        benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
    state.counters["timer_ticks_per_wait"] =
        benchmark::Counter(ticks, benchmark::Counter::kAvgIterations);
}

void BM_WaitBlocking(benchmark::State& state) {
    WaitHalfASecond<ufd::QtEventPump>(state);
}
void BM_WaitSpinning(benchmark::State& state) {
    WaitHalfASecond<SpinningPump>(state);
}

BENCHMARK(BM_WaitBlocking)->Iterations(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WaitSpinning)->Iterations(4)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
