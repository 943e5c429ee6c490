// Runs the real ufd-station on 16 zero-latency simulated drives and reports
// what the station itself costs: a run's wall time minus the pauses the run
// makes on purpose, and the CPU it burns while idle and while waiting.
#include "copied_rack.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

namespace {

constexpr int kDrives = 16;
// 0.1 s before each slot's Format, 0.5 s and 0.1 s later in the run; no
// beeps, since the sample product leaves Enable Beep off.
constexpr double kFixedPauses = 0.1 * kDrives + 0.5 + 0.1;

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

double ChildrenCpu() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

// utime + stime of a running process, from /proc (getrusage only sees
// children once they have been reaped).
double ProcessCpu(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks;
}

} // namespace

int main() {
    QTemporaryDir dir;
    const QString bin = CopyStationProgram(dir.path());
    if (!WriteCopiedRack(dir.filePath(QStringLiteral("rack.json")), "fast.json", kDrives,
                         QLatin1Char('B'))) {
        std::fprintf(stderr, "could not write the rack\n");
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUORLINK_RACK"), dir.filePath(QStringLiteral("rack.json")));
    env.insert(QStringLiteral("QUORLINK_REPLY_DIR"), dir.filePath(QStringLiteral("reply")));
    // The runs' records go to a database of the benchmark's own.
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("UFD_NOTICE_CHANNEL"),
               QStringLiteral("ufd-bench-") + QUuid::createUuid().toString(QUuid::Id128));

    constexpr int kRuns = 3;
    double bestOverhead = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        // Fresh drives every run, so each one is formatted from blank.
        env.insert(QStringLiteral("QUORLINK_STATE_DIR"),
                   dir.filePath(QStringLiteral("state%1").arg(run)));
        QProcess p;
        p.setProcessEnvironment(env);
        const double cpuBefore = ChildrenCpu();
        QElapsedTimer t;
        t.start();
        p.start(bin + QStringLiteral("/ufd-station"), {QStringLiteral("--batch")});
        p.waitForFinished(300000);
        const double wall = static_cast<double>(t.nsecsElapsed()) / 1e9;
        const double cpu = ChildrenCpu() - cpuBefore;
        // Every slot must have been tested, or the figures mean nothing.
        const QByteArray report = p.readAllStandardOutput();
        if (p.exitCode() != 0 || !report.contains("\n16 ")) {
            std::fprintf(stderr, "run %d exited %d:\n%s\n", run, p.exitCode(), report.constData());
            return 1;
        }
        bestOverhead = std::min(bestOverhead, wall - kFixedPauses);
        std::printf("run %d: wall %.3f s, fixed pauses %.1f s, overhead %.3f s, "
                    "cpu %.3f s (%.1f%% of wall)\n",
                    run, wall, kFixedPauses, wall - kFixedPauses, cpu, 100 * cpu / wall);
    }
    std::printf("best overhead of a %d-drive run: %.3f s\n", kDrives, bestOverhead);

    // The window left open after start-up: it should sleep, not poll.
    env.insert(QStringLiteral("QUORLINK_STATE_DIR"), dir.filePath(QStringLiteral("idle")));
    QProcess idle;
    idle.setProcessEnvironment(env);
    idle.start(bin + QStringLiteral("/ufd-station"));
    idle.waitForStarted();
    QThread::sleep(2);
    constexpr double kIdleSeconds = 5;
    const double before = ProcessCpu(idle.processId());
    QThread::msleep(static_cast<unsigned long>(kIdleSeconds * 1000));
    const double after = ProcessCpu(idle.processId());
    idle.kill();
    idle.waitForFinished();
    std::printf("idle window: %.3f s cpu over %.0f s (%.2f%%)\n", after - before, kIdleSeconds,
                100 * (after - before) / kIdleSeconds);
    return 0;
}
