// Runs the real ufd-station on 16 zero-latency simulated drives and reports
// what the station itself costs: a run's wall time minus the pauses the run
// makes on purpose, and the CPU it burns while idle and while waiting.
//
//   bench_station [BASELINE_DIR]
//
// BASELINE_DIR is the program folder of another build (ufd-station, Vasket,
// libquorlink.so): its runs take turns with this build's, so both meet the
// same load on a shared machine and print side by side.
#include "copied_rack.h"

#include <QDateTime>
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

#include <algorithm>
#include <cstdio>
#include <vector>

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

// Where a line PC keeps what the station and the library write per command:
// the session's runtime directory, a tmpfs. Elsewhere every reply file is an
// inode made and freed on a disk, a cost of the disk, not of the station.
QString RuntimeBase() {
    for (const QString& dir :
         {qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/dev/shm")}) {
        if (!dir.isEmpty() && QFileInfo(dir).isDir() && QFileInfo(dir).isWritable()) {
            return dir;
        }
    }
    return QDir::tempPath();
}

struct Figures {
    double wall = 0; // the process, start to exit
    double run = 0;  // Start pressed to the verdict, as the run state has them
    double cpu = 0;
};

struct Program {
    QString name;
    QString bin;
    std::vector<Figures> runs;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Best(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    QTemporaryDir runtime(RuntimeBase() + QStringLiteral("/ufd-bench-XXXXXX"));
    std::vector<Program> programs;
    if (argc > 1) {
        // Copied beside the example Product.ini, as this build's program is.
        const QString bin = dir.filePath(QStringLiteral("baseline"));
        QDir().mkpath(bin);
        for (const char* name : {"ufd-station", "Vasket", "libquorlink.so"}) {
            QFile::copy(QString::fromLocal8Bit(argv[1]) + QLatin1Char('/') + QLatin1String(name),
                        bin + QLatin1Char('/') + QLatin1String(name));
        }
        QFile::copy(QStringLiteral(UFD_SOURCE_DIR "/examples/Product.ini"),
                    bin + QStringLiteral("/Product.ini"));
        if (!QFileInfo(bin + QStringLiteral("/ufd-station")).isExecutable()) {
            std::fprintf(stderr, "no ufd-station in %s\n", argv[1]);
            return 1;
        }
        programs.push_back({QStringLiteral("baseline"), bin, {}});
    }
    programs.push_back({QStringLiteral("this build"), CopyStationProgram(dir.path()), {}});
    if (!WriteCopiedRack(dir.filePath(QStringLiteral("rack.json")), "fast.json", kDrives,
                         QLatin1Char('B'))) {
        std::fprintf(stderr, "could not write the rack\n");
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUORLINK_RACK"), dir.filePath(QStringLiteral("rack.json")));
    env.insert(QStringLiteral("QUORLINK_REPLY_DIR"), runtime.filePath(QStringLiteral("reply")));
    // The runs' records go to a database of the benchmark's own.
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("UFD_NOTICE_CHANNEL"),
               QStringLiteral("ufd-bench-") + QUuid::createUuid().toString(QUuid::Id128));
    std::printf("reply files and drive images in %s\n", qPrintable(RuntimeBase()));

    constexpr int kRounds = 5;
    int state = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (Program& program : programs) {
            // Fresh drives every run, so each one is formatted from blank.
            env.insert(QStringLiteral("QUORLINK_STATE_DIR"),
                       runtime.filePath(QStringLiteral("state%1").arg(state++)));
            QProcess p;
            p.setProcessEnvironment(env);
            const double cpuBefore = ChildrenCpu();
            QElapsedTimer t;
            t.start();
            p.start(program.bin + QStringLiteral("/ufd-station"),
                    {QStringLiteral("--batch"), QStringLiteral("--json")});
            p.waitForFinished(300000);
            Figures f;
            f.wall = static_cast<double>(t.nsecsElapsed()) / 1e9;
            f.cpu = ChildrenCpu() - cpuBefore;
            // Every slot must have been tested, or the figures mean nothing.
            const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
            const auto at = [&o](const char* key) {
                return QDateTime::fromString(o.value(QLatin1String(key)).toString(),
                                             Qt::ISODateWithMs);
            };
            if (p.exitCode() != 0 ||
                o.value(QStringLiteral("drives")).toArray().size() != kDrives ||
                !at("started_utc").isValid() || !at("ended_utc").isValid()) {
                std::fprintf(stderr, "%s, round %d, exited %d:\n%s\n", qPrintable(program.name),
                             round, p.exitCode(), p.readAllStandardError().constData());
                return 1;
            }
            f.run = static_cast<double>(at("started_utc").msecsTo(at("ended_utc"))) / 1000;
            program.runs.push_back(f);
            std::printf("%-10s round %d: process %.3f s, run %.3f s, cpu %.3f s\n",
                        qPrintable(program.name), round, f.wall, f.run, f.cpu);
        }
    }

    std::printf("\noverhead over the fixed pauses of %.1f s, best and median of %d:\n",
                kFixedPauses, kRounds);
    std::printf("%-10s  %-22s  %-22s  %s\n", "", "run (Start to verdict)",
                "process (start to exit)", "cpu (median)");
    for (const Program& program : programs) {
        std::vector<double> run, wall, cpu;
        for (const Figures& f : program.runs) {
            run.push_back(f.run - kFixedPauses);
            wall.push_back(f.wall - kFixedPauses);
            cpu.push_back(f.cpu);
        }
        const auto pct = [](double s) { return 100 * s / kFixedPauses; };
        std::printf("%-10s  %4.1f%% %5.1f%% %4.0f ms  %4.1f%% %5.1f%% %4.0f ms   %.3f s\n",
                    qPrintable(program.name), pct(Best(run)), pct(Median(run)), 1000 * Median(run),
                    pct(Best(wall)), pct(Median(wall)), 1000 * Median(wall), Median(cpu));
    }

    // The window left open after start-up: it should sleep, not poll.
    env.insert(QStringLiteral("QUORLINK_STATE_DIR"), runtime.filePath(QStringLiteral("idle")));
    QProcess idle;
    idle.setProcessEnvironment(env);
    idle.start(programs.back().bin + QStringLiteral("/ufd-station"));
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
