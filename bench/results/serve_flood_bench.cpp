// ufd-results serve under a flood, beside an idle server in the same run:
// 100 clients (each an address of its own, at the lowest priority) send
// 100 MB each without a line break, reconnecting whenever the server closes
// on them, while another client asks for the last runs every 50 ms.
// Measured: both servers' resident memory before and at its peak during the
// flood, and the normal request's time on each.
#include "results/results_store.h"
#include "serve/http_client.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kClients = 100;
constexpr qint64 kBytesEach = 100LL << 20;
constexpr auto kLongest = std::chrono::minutes(3);

struct Server {
    Server(const QString& conf) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("UFD_STATION_CONF", conf);
        process.setProcessEnvironment(env);
        process.start(UFD_BIN_DIR "/ufd-results", {"serve", "--listen", "127.0.0.1:0"});
        process.waitForReadyRead(60000);
        const QString line = QString::fromUtf8(process.readLine());
        port = quint16(line.section(':', 2).section('/', 0, 0).toUInt());
    }
    ~Server() {
        process.terminate();
        process.waitForFinished(10000);
    }
    long RssKb() const {
        QFile f(QStringLiteral("/proc/%1/status").arg(process.processId()));
        f.open(QIODevice::ReadOnly);
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (line.startsWith("VmRSS:")) {
                return line.mid(6).trimmed().split(' ').first().toLong();
            }
        }
        return 0;
    }
    int Descriptors() const {
        return int(QDir(QStringLiteral("/proc/%1/fd").arg(process.processId())).count()) - 2;
    }
    // The time of one normal request on a fresh connection, in ms; -1: no 200.
    double Ask() const {
        QElapsedTimer t;
        t.start();
        ufd::test::HttpClient c(port, "127.0.1.1");
        c.Send(ufd::test::Get("/api/runs?limit=5", port));
        const int status = c.Read(5000).status;
        return status == 200 ? double(t.nsecsElapsed()) / 1e6 : -1;
    }
    QProcess process;
    quint16 port = 0;
};

void Flood(quint16 port, int client, std::atomic<bool>& stop, std::atomic<qint64>& total) {
    // The clients stand for machines of their own: on this one they run at
    // the lowest priority, so that their sending does not take the cores the
    // servers and the asking client need.
    ::setpriority(PRIO_PROCESS, pid_t(::gettid()), 19);
    const QByteArray chunk(64 * 1024, 'A');
    const std::string from = "127.0.0." + std::to_string(client + 2);
    for (qint64 sent = 0; sent < kBytesEach && !stop;) {
        ufd::test::HttpClient c(port, from.c_str());
        while (c.Connected() && sent < kBytesEach && !stop && c.Send(chunk)) {
            sent += chunk.size();
            total += chunk.size();
        }
    }
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return -1;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void FloodBeside(benchmark::State& state) {
    QTemporaryDir dir;
    const ufd::DatabaseTarget target = ufd::ParseDatabaseSetting(dir.filePath("r.sqlite")).target;
    std::vector<ufd::DriveRecord> records(200);
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].RunId = QStringLiteral("run-%1").arg(i / 16);
        records[i].Slot = int(i % 16) + 1;
        records[i].StationId = "line-1";
        records[i].StartedUtc = "2026-12-07T08:00:00.000Z";
        records[i].Serial = QStringLiteral("S%1").arg(i);
        records[i].Items[0] = ufd::ItemResult{"", "", 0, 1};
    }
    QString error;
    if (!ufd::ResultsStore(target).Store(records, &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    QFile conf(dir.filePath("station.conf"));
    conf.open(QIODevice::WriteOnly);
    conf.write("[Results]\nDatabase=" + target.file.toUtf8() + "\n");
    conf.close();
    for (auto _ : state) {
        Server idle(conf.fileName()), flooded(conf.fileName());
        if (idle.port == 0 || flooded.port == 0) {
            state.SkipWithError("serve did not start");
            return;
        }
        idle.Ask(); // both have answered once before anything is measured
        flooded.Ask();
        const long idleBefore = idle.RssKb(), floodedBefore = flooded.RssKb();
        std::atomic<bool> stop = false;
        std::atomic<qint64> total = 0;
        std::vector<std::thread> clients;
        for (int i = 0; i < kClients; ++i) {
            clients.emplace_back(Flood, flooded.port, i, std::ref(stop), std::ref(total));
        }
        long idlePeak = idleBefore, floodedPeak = floodedBefore;
        std::vector<double> onIdle, onFlooded;
        int failed = 0, descriptors = 0;
        QElapsedTimer wall;
        wall.start();
        while (total < kClients * kBytesEach && wall.elapsed() < kLongest / 1ms) {
            const double a = flooded.Ask(), b = idle.Ask();
            failed += (a < 0 ? 1 : 0) + (b < 0 ? 1 : 0);
            onFlooded.push_back(a);
            onIdle.push_back(b);
            idlePeak = std::max(idlePeak, idle.RssKb());
            floodedPeak = std::max(floodedPeak, flooded.RssKb());
            descriptors = std::max(descriptors, flooded.Descriptors());
            std::this_thread::sleep_for(50ms);
        }
        stop = true;
        for (std::thread& t : clients) {
            t.join();
        }
        state.counters["flood_mb"] = double(total) / (1 << 20);
        state.counters["flood_s"] = double(wall.elapsed()) / 1000;
        state.counters["rss_idle_before_kb"] = double(idleBefore);
        state.counters["rss_idle_peak_kb"] = double(idlePeak);
        state.counters["rss_flooded_before_kb"] = double(floodedBefore);
        state.counters["rss_flooded_peak_kb"] = double(floodedPeak);
        state.counters["rss_growth_pct"] =
            100.0 * double(floodedPeak - floodedBefore) / double(floodedBefore);
        state.counters["ask_flooded_median_ms"] = Percentile(onFlooded, 0.5);
        state.counters["ask_flooded_p90_ms"] = Percentile(onFlooded, 0.9);
        state.counters["ask_flooded_max_ms"] = Percentile(onFlooded, 1.0);
        state.counters["ask_idle_median_ms"] = Percentile(onIdle, 0.5);
        state.counters["ask_idle_p90_ms"] = Percentile(onIdle, 0.9);
        state.counters["ask_idle_max_ms"] = Percentile(onIdle, 1.0);
        state.counters["asks"] = double(onFlooded.size());
        state.counters["flooded_fds_peak"] = descriptors;
        state.counters["asks_failed"] = failed;
    }
}

BENCHMARK(FloodBeside)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
