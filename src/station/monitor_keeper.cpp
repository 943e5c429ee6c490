#include "station/monitor_keeper.h"
#include "station/station_language.h"

namespace ufd {

MonitorKeeper::MonitorKeeper(std::function<int()> start,
                             std::function<std::optional<pid_t>()> alive,
                             std::function<void(const QString&)> say, Settings settings,
                             std::function<std::optional<int64_t>()> beat, QObject* parent)
    : QObject(parent), start_(std::move(start)), alive_(std::move(alive)), say_(std::move(say)),
      beat_(std::move(beat)), settings_(settings), lastStart_(std::chrono::steady_clock::now()),
      lastBeatChange_(lastStart_) {
    timer_.setInterval(static_cast<int>(settings_.poll.count()));
    connect(&timer_, &QTimer::timeout, this, [this] { Check(); });
    timer_.start();
}

void MonitorKeeper::Check() {
    if (const std::optional<pid_t> pid = alive_()) {
        seen_ = true;
        Listen(*pid);
        return;
    }
    silent_ = false;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastStart_ < settings_.grace) {
        return;
    }
    lastStart_ = now;
    const bool started = static_cast<int16_t>(start_()) >= 32;
    if (started) {
        ++restarts_;
        startFailed_ = false;
        say_(seen_ ? QCoreApplication::translate("TestFrm",
                                                 "The monitor Vasket had ended; started again (%1)")
                         .arg(restarts_)
                   : QCoreApplication::translate(
                         "TestFrm", "The monitor Vasket did not come up; started again (%1)")
                         .arg(restarts_));
    } else if (!startFailed_) {
        startFailed_ = true;
        say_(QCoreApplication::translate(
            "TestFrm", "The monitor Vasket has ended and cannot be started again: drives "
                       "that come or go are seen only after Clear"));
    }
    seen_ = false;
}

// A live monitor that stops beating is stopped or hung, or is no monitor at
// all but another process holding its lock: no new one can take over, so
// the operator must know that notices may not come.
void MonitorKeeper::Listen(pid_t pid) {
    if (!beat_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const std::optional<int64_t> beat = beat_();
    if (beat != lastBeat_ || pid != beatingPid_) {
        lastBeat_ = beat;
        beatingPid_ = pid;
        lastBeatChange_ = now;
        if (silent_) {
            silent_ = false;
            say_(QCoreApplication::translate("TestFrm", "The monitor Vasket answers again"));
        }
        return;
    }
    if (!silent_ && now - lastBeatChange_ >= settings_.silence) {
        silent_ = true;
        say_(QCoreApplication::translate(
                 "TestFrm", "The monitor Vasket (process %1) does not answer: drives that come "
                            "or go are seen only after Clear")
                 .arg(pid));
    }
}

} // namespace ufd
