// The media test's costs through the device layer and the real libquorlink on
// zero-latency simulated drives. Goals: the probe moves at most twice the
// largest cache it defeats (256 MiB) plus 64 MiB of a 64 GiB drive; sixteen
// probed at once take at most 1.3 times one; Surface=100 takes at most 1.5
// times dd writing and reading the same bytes to a file.
// A zero-latency drive is all CPU, so sixteen at once can take no less than
// 16 / cores times one: Probe/2 against Probe/1 shows on a small machine that
// the drives do not wait for each other. Medians of three: the first pass
// over a fresh image (and dd's fresh file) costs the machine far more than
// the next.
#include "device/flash_probe.h"
#include "device/media_io.h"
#include "device/surface_sweep.h"

#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

using namespace ufd;

constexpr int64_t k64GiB = 134217728;
constexpr int64_t k1GiB = 2097152;
constexpr int kProbed = 16; // drives 1..16; drive 0 is the 1 GiB one

class Rack {
public:
    Rack() {
        const auto file = dir_.filePath("rack.json").toStdString();
        nlohmann::json drives = {{{"index", 0}, {"capacity", k1GiB}}};
        for (int i = 1; i <= kProbed; ++i) {
            drives.push_back({{"index", i}, {"capacity", k64GiB}});
        }
        std::ofstream(file) << nlohmann::json{{"drives", drives}}.dump();
        ::setenv("QUORLINK_RACK", file.c_str(), 1);
        ::setenv("QUORLINK_REPLY_DIR", dir_.filePath("replies").toLocal8Bit().constData(), 1);
        ::unsetenv("QUORLINK_STATE_DIR");
        ::unsetenv("QUORLINK_TRACE");
        for (int i = 0; i <= kProbed; ++i) {
            handles[static_cast<size_t>(i)] = transport.GetDiskHandle(i);
        }
    }
    QString Path(const char* name) const { return dir_.filePath(name); }

    QuorlinkTransport transport;
    std::array<int32_t, kProbed + 1> handles{};

private:
    QTemporaryDir dir_;
};

Rack& TheRack() {
    static Rack rack;
    return rack;
}

// The probe on `drives` drives at once, each on a thread of its own.
void Probe(benchmark::State& state) {
    Rack& rack = TheRack();
    const auto drives = static_cast<int>(state.range(0));
    uint64_t moved = 0;
    for (auto _ : state) {
        std::vector<std::thread> threads;
        std::vector<ProbeResult> results(static_cast<size_t>(drives));
        for (int d = 0; d < drives; ++d) {
            threads.emplace_back([&, d] {
                MediaIo io(rack.transport, rack.handles[static_cast<size_t>(d + 1)]);
                results[static_cast<size_t>(d)] = ProbeFlash(io, k64GiB, 1234);
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        for (const ProbeResult& r : results) {
            if (r.ioFailed || r.keptSectors != static_cast<uint64_t>(k64GiB)) {
                state.SkipWithError("the probe failed a good drive");
            }
        }
        moved = results[0].bytesMoved;
    }
    state.counters["MiB_moved_per_drive"] = static_cast<double>(moved) / (1 << 20);
}
BENCHMARK(Probe)
    ->Arg(1)
    ->Arg(2)
    ->Arg(kProbed)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void SurfaceFull(benchmark::State& state) {
    Rack& rack = TheRack();
    MediaIo io(rack.transport, rack.handles[0]);
    for (auto _ : state) {
        const SweepResult r = SweepSurface(io, SurfaceChunks(k1GiB, 100, io.ChunkSectors()), 99);
        if (r.ioFailed || r.failed != 0) {
            state.SkipWithError("the sweep failed a good drive");
        }
    }
    state.SetBytesProcessed(state.iterations() * k1GiB * 512);
}
BENCHMARK(SurfaceFull)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The baseline: dd writes the same bytes to a file, then reads them back.
void Dd(benchmark::State& state) {
    const QString file = TheRack().Path("dd.img");
    auto dd = [&](const QStringList& args) {
        QProcess p;
        p.start("dd", args);
        return p.waitForFinished(600000) && p.exitCode() == 0;
    };
    for (auto _ : state) {
        if (!dd({"if=/dev/zero", "of=" + file, "bs=2M", "count=512"}) ||
            !dd({"if=" + file, "of=/dev/null", "bs=2M"})) {
            state.SkipWithError("dd failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * k1GiB * 512);
}
BENCHMARK(Dd)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
