// Keeps the station from going deaf: Vasket, once started, is watched, and
// when it has died it is started again, said on the status line and stderr.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
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
    };
    // start: as the station started it (result below 32: could not start).
    // alive: the live monitor of the channel, if any. say: a warning for the
    // operator.
    MonitorKeeper(std::function<int()> start, std::function<std::optional<pid_t>()> alive,
                  std::function<void(const QString&)> say, Settings settings,
                  QObject* parent = nullptr);

    int Restarts() const { return restarts_; }

private:
    void Check();

    std::function<int()> start_;
    std::function<std::optional<pid_t>()> alive_;
    std::function<void(const QString&)> say_;
    Settings settings_;
    QTimer timer_;
    std::chrono::steady_clock::time_point lastStart_;
    bool seen_ = false;
    bool startFailed_ = false;
    int restarts_ = 0;
};

} // namespace ufd
