// Keeps the station from going deaf: Vasket, once started, is watched, and
// when it has died it is started again, said on the status line and stderr.
// One that lives but no longer beats (stopped, hung, or another process
// holding its lock) cannot be replaced: that is said the same way.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace ufd {

class MonitorKeeper : public QObject {
public:
    struct Settings {
        std::chrono::milliseconds poll{1000};
        // A monitor just started has this long to take its lock before it
        // counts as dead; restarts are never closer together either.
        std::chrono::milliseconds grace{5000};
        // A live monitor whose heartbeat has not changed for this long does
        // not answer.
        std::chrono::milliseconds silence{5000};
    };
    // start: as the station started it (result below 32: could not start).
    // alive: the live monitor of the channel, if any. say: a warning for the
    // operator. beat: the monitor's heartbeat, any value that changes with
    // each beat; empty: not listened for.
    MonitorKeeper(std::function<int()> start, std::function<std::optional<pid_t>()> alive,
                  std::function<void(const QString&)> say, Settings settings,
                  std::function<std::optional<int64_t>()> beat = {}, QObject* parent = nullptr);

private:
    void Check();
    void Listen(pid_t pid);

    std::function<int()> start_;
    std::function<std::optional<pid_t>()> alive_;
    std::function<void(const QString&)> say_;
    std::function<std::optional<int64_t>()> beat_;
    Settings settings_;
    QTimer timer_;
    std::chrono::steady_clock::time_point lastStart_;
    bool seen_ = false;
    bool startFailed_ = false;
    int restarts_ = 0;
    std::optional<int64_t> lastBeat_;
    pid_t beatingPid_ = 0;
    std::chrono::steady_clock::time_point lastBeatChange_;
    bool silent_ = false;
};

} // namespace ufd
