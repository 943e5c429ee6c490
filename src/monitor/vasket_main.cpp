// Vasket: tells the station when USB drives come and go.
//
// Started hidden by the station, never stopped by it. One instance per
// notice channel; it ends itself when the station is gone.
#include "monitor/instance_lock.h"
#include "monitor/monitor.h"
#include "monitor/rack_source.h"
#include "monitor/station_presence.h"
#include "monitor/udev_events.h"
#include "platform/notice_channel.h"
#include "platform/program_info.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// How long a new instance waits for an old one whose station has gone
// (its own station is a new one on the same channel).
constexpr int kHandoverMilliseconds = 3000;
constexpr int kHandoverStepMilliseconds = 100;

std::optional<pid_t> StationPid(const QStringList& arguments) {
    const int at = arguments.indexOf(QStringLiteral("--station-pid"));
    if (at >= 0 && at + 1 < arguments.size()) {
        return ufd::ParseProcessId(arguments[at + 1].toLatin1());
    }
    return ufd::ParseProcessId(qgetenv("UFD_STATION_PID"));
}

std::chrono::milliseconds Grace() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("UFD_MONITOR_GRACE_SECONDS", &ok);
    return ok && seconds > 0 ? std::chrono::seconds(seconds) : ufd::MonitorSettings{}.grace;
}

bool ProcessAlive(pid_t pid) {
    ufd::ProcessWatch watch(pid);
    return watch.Alive();
}

constexpr const char* kUsage =
    "usage: Vasket [--station-pid PID]\n"
    "Tells the station when USB drives come and go: sends \"IN\" to its notice\n"
    "channel when a drive arrives, \"OUT\" for any other change. The station\n"
    "starts it; it ends itself when the station (PID, else $UFD_STATION_PID) has\n"
    "gone. Watches the rack file $QUORLINK_RACK when set, else udev.\n"
    "  --help             this text\n"
    "  --version          the program's version\n";

} // namespace

int main(int argc, char** argv) {
    if (const auto code = ufd::AnswerInfoOption(argc, argv, "Vasket", kUsage)) {
        return *code;
    }
    QCoreApplication app(argc, argv);

    ufd::MonitorSettings settings;
    settings.channel = ufd::NoticeChannelName();
    settings.stationPid = StationPid(app.arguments());
    settings.grace = Grace();

    QString refusal;
    const QString lockPath = ufd::InstanceLockPath(settings.channel, &refusal);
    if (lockPath.isEmpty()) {
        std::fprintf(stderr, "Vasket: %s\n", qPrintable(refusal));
        return 1;
    }
    bool held = false;
    std::optional<ufd::InstanceLock> lock = ufd::InstanceLock::TryAcquire(lockPath, &held);
    if (!lock && !held) {
        // Silence here would leave the station deaf without a word.
        std::fprintf(stderr, "Vasket: cannot open its lock %s: %s\n", qPrintable(lockPath),
                     std::strerror(errno));
        return 1;
    }
    if (!lock && settings.stationPid) {
        // The holder may serve a station that has just died, and will end
        // within moments; take over from it rather than leave ours unserved.
        const std::optional<pid_t> holderStation = ufd::ReadOwnerStation(lockPath);
        if (holderStation && *holderStation != *settings.stationPid) {
            for (int waited = 0; !lock && waited < kHandoverMilliseconds;
                 waited += kHandoverStepMilliseconds) {
                QThread::msleep(kHandoverStepMilliseconds);
                lock = ufd::InstanceLock::TryAcquire(lockPath);
            }
        }
    }
    if (!lock) {
        // Another Vasket already serves this channel.
        return 0;
    }
    lock->WriteOwner(::getpid(), settings.stationPid);
    if (settings.stationPid && !ProcessAlive(*settings.stationPid)) {
        return 0;
    }

    // The heartbeat comes from the event loop itself: a Vasket that is
    // stopped or stuck stops beating, and the station says so.
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&lock] { lock->Beat(); });
    beat.start(ufd::kMonitorBeat);

    ufd::Monitor monitor(settings);
    QObject::connect(&monitor, &ufd::Monitor::Ended, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    std::unique_ptr<ufd::PluggedStateSource> rack;
    std::unique_ptr<ufd::UdevEventSource> devices;
    const QString rackPath = qEnvironmentVariable("QUORLINK_RACK");
    if (!rackPath.isEmpty()) {
        QString error;
        rack = ufd::OpenRackSource(rackPath, &error);
        if (!rack) {
            std::fprintf(stderr, "Vasket: cannot watch the rack %s: %s\n", qPrintable(rackPath),
                         qPrintable(error));
            return 1;
        }
        monitor.WatchRack(*rack);
        std::fprintf(stderr, "Vasket: watching the rack %s\n", qPrintable(rackPath));
    } else {
        std::string error;
        devices = ufd::UdevEventSource::Open(&error);
        if (!devices) {
            std::fprintf(stderr, "Vasket: %s\n", error.c_str());
            return 1;
        }
        monitor.WatchDevices(*devices);
        std::fprintf(stderr, "Vasket: watching USB disks\n");
    }
    monitor.WatchStation();
    return app.exec();
}
