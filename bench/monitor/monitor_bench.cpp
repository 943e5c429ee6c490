// Plug-to-notice latency on a simulated rack: ufd-rack's change of the
// plugged state (the same RackState call) until the station's notice server
// holds the notice, through the real Monitor, rack watch and channel. Each
// iteration waits a different time first, so plugs fall anywhere in the
// poll period. Counters: mean and worst milliseconds.
#include "monitor/monitor.h"
#include "monitor/rack_source.h"
#include "platform/notice_channel.h"
#include "sim/rack.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>

namespace {

void BM_PlugToNotice(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string rackFile = dir.filePath(QStringLiteral("rack.json")).toStdString();
    std::ofstream(rackFile) << R"({"drives": [{"index": 1, "kind": "usb", "capacity": 2048,
                                                "plugged": false}]})";
    ::unsetenv("QUORLINK_STATE_DIR");
    quorlink::sim::RackState hand(quorlink::sim::loadRack(rackFile));

    const QString channel =
        QStringLiteral("ufd-bench-") + QUuid::createUuid().toString(QUuid::Id128);
    ufd::NoticeServer station;
    int received = 0;
    QObject::connect(&station, &ufd::NoticeServer::NoticeReceived,
                     [&](const QByteArray&) { ++received; });
    if (!station.Listen(channel)) {
        state.SkipWithError("cannot listen on a notice channel");
        return;
    }
    QString error;
    auto rack = ufd::OpenRackSource(QString::fromStdString(rackFile), &error);
    ufd::MonitorSettings settings;
    settings.channel = channel;
    ufd::Monitor monitor(settings);
    monitor.WatchRack(*rack);

    bool plugged = false;
    double total = 0;
    double worst = 0;
    int step = 0;
    for (auto _ : state) {
        QTest::qWait(20 + (step++ * 13) % 70);
        const int before = received;
        QElapsedTimer timer;
        timer.start();
        plugged = !plugged;
        hand.setPlugged(1, plugged);
        while (received == before && timer.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        state.SetIterationTime(ms / 1000);
        total += ms;
        worst = std::max(worst, ms);
    }
    state.counters["mean_ms"] = total / static_cast<double>(state.iterations());
    state.counters["worst_ms"] = worst;
}

BENCHMARK(BM_PlugToNotice)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
