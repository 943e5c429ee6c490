// What recording a run costs: the real ufd-station on 16 zero-latency
// simulated drives gives the baseline (the run's wall time, its own records
// in a SQLite file), then those 16 records are stored again and again under
// fresh run ids, in SQLite and in PostgreSQL (a server of its own), each as a
// share of that wall time; and what the window's thread itself pays to hand
// a run's records over.
#include "copied_rack.h"

#include "results/record_reader.h"
#include "results/results_store.h"
#include "results/results_writer.h"
#include "support/pg_server.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>
#include <memory>

namespace {

constexpr int kDrives = 16;

struct Baseline {
    QTemporaryDir dir;
    double runSeconds = 0;
    std::vector<ufd::DriveRecord> records; // the run's own 16 records
    std::unique_ptr<ufd::test::PgServer> pg;
};

Baseline& Base() {
    static Baseline b;
    return b;
}

void StationRun(benchmark::State& state) {
    Baseline& b = Base();
    const QString bin = CopyStationProgram(b.dir.path());
    if (!WriteCopiedRack(b.dir.filePath(QStringLiteral("rack.json")), "fast.json", kDrives,
                         QLatin1Char('B'))) {
        state.SkipWithError("could not write the rack");
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUORLINK_RACK"), b.dir.filePath(QStringLiteral("rack.json")));
    env.insert(QStringLiteral("QUORLINK_REPLY_DIR"), b.dir.filePath(QStringLiteral("reply")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), b.dir.filePath(QStringLiteral("data")));
    env.remove(QStringLiteral("UFD_STATION_CONF"));
    int run = 0;
    for (auto _ : state) {
        env.insert(QStringLiteral("UFD_NOTICE_CHANNEL"),
                   QStringLiteral("ufd-bench-") + QUuid::createUuid().toString(QUuid::Id128));
        env.insert(QStringLiteral("QUORLINK_STATE_DIR"),
                   b.dir.filePath(QStringLiteral("state%1").arg(run++)));
        QProcess p;
        p.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        p.start(bin + QStringLiteral("/ufd-station"), {QStringLiteral("--batch")});
        p.waitForFinished(300000);
        const double wall = static_cast<double>(t.nsecsElapsed()) / 1e9;
        state.SetIterationTime(wall);
        if (p.exitCode() != 0) {
            state.SkipWithError("the run did not pass on every drive");
            return;
        }
        b.runSeconds = b.runSeconds == 0 ? wall : std::min(b.runSeconds, wall);
    }
    ufd::DatabaseTarget target;
    target.file = b.dir.filePath(QStringLiteral("data/ufd-station/results.sqlite"));
    QString error;
    auto records = ufd::RecordReader(target).Records({}, &error);
    if (!records || records->size() < kDrives) {
        state.SkipWithError("the run left no records");
        return;
    }
    b.records.assign(records->begin(), records->begin() + kDrives);
    state.counters["run_s"] = b.runSeconds;
}

std::vector<ufd::DriveRecord> FreshRun() {
    std::vector<ufd::DriveRecord> run = Base().records;
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    for (ufd::DriveRecord& r : run) {
        r.RunId = id;
    }
    return run;
}

std::optional<ufd::DatabaseTarget> Target(bool postgres, QString* why) {
    Baseline& b = Base();
    if (!postgres) {
        ufd::DatabaseTarget t;
        t.file = b.dir.filePath(QStringLiteral("bench.sqlite"));
        return t;
    }
    if (!b.pg) {
        b.pg = std::make_unique<ufd::test::PgServer>(true);
    }
    if (!b.pg->skip.isEmpty()) {
        *why = b.pg->skip;
        return std::nullopt;
    }
    static std::optional<ufd::DatabaseTarget> made =
        b.pg->NewDatabase(QStringLiteral("bench"), why);
    return made;
}

// One transaction of 16 records, as the writer's thread does it at the end
// of every run; share_of_run_pct is its time over the baseline run's wall time.
void StoreRun(benchmark::State& state) {
    QString why;
    const auto target = Target(state.range(0) == 1, &why);
    if (!target || Base().records.empty()) {
        state.SkipWithError(target ? "no baseline records" : qPrintable(why));
        return;
    }
    ufd::ResultsStore store(*target);
    QString error;
    if (!store.Open(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    qint64 storingNs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto run = FreshRun();
        state.ResumeTiming();
        QElapsedTimer t;
        t.start();
        const bool ok = store.Store(run, &error);
        storingNs += t.nsecsElapsed();
        if (!ok) {
            state.SkipWithError(qPrintable(error));
            return;
        }
    }
    const double perRun =
        static_cast<double>(storingNs) / 1e9 / static_cast<double>(state.iterations());
    state.counters["share_of_run_pct"] = 100.0 * perRun / Base().runSeconds;
}

// What the window's thread pays at the end of a run: handing the records to
// the writer. The store itself happens behind it and is waited for untimed.
void SubmitRun(benchmark::State& state) {
    QString why;
    const auto target = Target(false, &why);
    ufd::ResultsWriter writer(*target, Base().dir.filePath(QStringLiteral("journal.jsonl")));
    for (auto _ : state) {
        state.PauseTiming();
        auto run = FreshRun();
        state.ResumeTiming();
        writer.Submit(std::move(run));
        state.PauseTiming();
        writer.WaitIdle();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(StationRun)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(StoreRun)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("postgres")
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond);
// Fixed iterations: each one waits, untimed, for a whole store.
BENCHMARK(SubmitRun)->Iterations(100)->Unit(benchmark::kMicrosecond);
