#include "station/monitor_keeper.h"

namespace ufd {

MonitorKeeper::MonitorKeeper(std::function<int()> start,
                             std::function<std::optional<pid_t>()> alive,
                             std::function<void(const QString&)> say, Settings settings,
                             QObject* parent)
    : QObject(parent), start_(std::move(start)), alive_(std::move(alive)), say_(std::move(say)),
      settings_(settings), lastStart_(std::chrono::steady_clock::now()) {
    timer_.setInterval(static_cast<int>(settings_.poll.count()));
    connect(&timer_, &QTimer::timeout, this, [this] { Check(); });
    timer_.start();
}

void MonitorKeeper::Check() {
    if (alive_()) {
        seen_ = true;
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastStart_ < settings_.grace) {
        return;
    }
    lastStart_ = now;
    const bool started = static_cast<int16_t>(start_()) >= 32;
    if (started) {
        ++restarts_;
        startFailed_ = false;
        say_(seen_
                 ? QStringLiteral("The monitor Vasket had ended; started again (%1)").arg(restarts_)
                 : QStringLiteral("The monitor Vasket did not come up; started again (%1)")
                       .arg(restarts_));
    } else if (!startFailed_) {
        startFailed_ = true;
        say_(QStringLiteral("The monitor Vasket has ended and cannot be started again: drives "
                            "that come or go are seen only after Clear"));
    }
    seen_ = false;
}

} // namespace ufd
