// A batch run of the sample product (Format, Manufacture, Check Config) on
// copies of the default rack's first drive, its latencies as they are: one
// drive, then sixteen with [Run] Parallel=true, then sixteen one after another,
// side by side in one run. The parallel rack should take at most 1.3 times
// the one drive. Then the same two with the capacity probe ([MediaTest]
// Probe=true): on drives that take their time per command, as real ones do,
// sixteen probes at once cost about what one costs.
#include "copied_rack.h"

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

namespace {

constexpr double kTargetRatio = 1.3;

struct Setup {
    QTemporaryDir dir;
    QString bin;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

// Wall seconds of one batch run on a fresh rack; negative when the run did
// not test every drive and pass.
double Run(Setup& s, const QString& name, int drives, bool parallel, bool probe = false) {
    const QString rack = s.dir.filePath(name + QStringLiteral(".json"));
    const QString conf = s.dir.filePath(name + QStringLiteral(".conf"));
    QFile c(conf);
    if (!WriteCopiedRack(rack, "default.json", drives, QLatin1Char('P')) ||
        !c.open(QIODevice::WriteOnly) ||
        c.write(parallel ? "[Run]\nParallel=true\n" : "[Run]\nParallel=false\n") <= 0 ||
        (probe && c.write("[MediaTest]\nProbe=true\n") <= 0)) {
        return -1;
    }
    c.close();
    QProcessEnvironment env = s.env;
    env.insert(QStringLiteral("QUORLINK_RACK"), rack);
    env.insert(QStringLiteral("QUORLINK_STATE_DIR"),
               s.dir.filePath(name + QStringLiteral("-state")));
    env.insert(QStringLiteral("UFD_STATION_CONF"), conf);
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(s.bin + QStringLiteral("/ufd-station"), {QStringLiteral("--batch")});
    p.waitForFinished(600000);
    const double wall = static_cast<double>(t.nsecsElapsed()) / 1e9;
    const QByteArray report = p.readAllStandardOutput();
    if (p.exitCode() != 0 ||
        !report.contains(QByteArray("\n") + QByteArray::number(drives) + ' ')) {
        std::fprintf(stderr, "%s exited %d:\n%s%s\n", qPrintable(name), p.exitCode(),
                     report.constData(), p.readAllStandardError().constData());
        return -1;
    }
    std::printf("%-28s %6.3f s\n", qPrintable(name), wall);
    return wall;
}

} // namespace

int main() {
    Setup s;
    s.bin = CopyStationProgram(s.dir.path());
    s.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    s.env.insert(QStringLiteral("QUORLINK_REPLY_DIR"), s.dir.filePath(QStringLiteral("reply")));
    // The runs' records go to a database of the benchmark's own, never the user's.
    s.env.insert(QStringLiteral("XDG_DATA_HOME"), s.dir.filePath(QStringLiteral("data")));
    s.env.insert(QStringLiteral("UFD_NOTICE_CHANNEL"),
                 QStringLiteral("ufd-bench-") + QUuid::createUuid().toString(QUuid::Id128));

    const double one = Run(s, QStringLiteral("one drive"), 1, false);
    const double parallel = Run(s, QStringLiteral("16 drives, Parallel=true"), 16, true);
    const double sequential = Run(s, QStringLiteral("16 drives, Parallel=false"), 16, false);
    const double oneProbed = Run(s, QStringLiteral("one drive, Probe"), 1, false, true);
    const double parallelProbed =
        Run(s, QStringLiteral("16 drives, Parallel, Probe"), 16, true, true);
    if (one <= 0 || parallel <= 0 || sequential <= 0 || oneProbed <= 0 || parallelProbed <= 0) {
        return 1;
    }
    std::printf("parallel / one drive:   %.2f (target at most %.1f)\n", parallel / one,
                kTargetRatio);
    std::printf("sequential / one drive: %.2f\n", sequential / one);
    std::printf("with the probe, parallel / one drive: %.2f (target at most %.1f)\n",
                parallelProbed / oneProbed, kTargetRatio);
    return parallel / one <= kTargetRatio && parallelProbed / oneProbed <= kTargetRatio ? 0 : 1;
}
