#include "monitor/station_presence.h"

#include "platform/notice_channel.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ufd {

QString ChannelSocketPath(const QString& channelName) {
    return NoticeSocketPath(channelName);
}

std::optional<SocketFileIdentity> ChannelSocketFile(const QString& channelName) {
    struct stat info {};
    if (::stat(QFile::encodeName(ChannelSocketPath(channelName)).constData(), &info) != 0) {
        return std::nullopt;
    }
    return SocketFileIdentity{info.st_dev, info.st_ino};
}

bool ChannelLooksListening(const std::optional<SocketFileIdentity>& now,
                           const std::optional<SocketFileIdentity>& refused) {
    return now.has_value() && now != refused;
}

std::optional<pid_t> ParseProcessId(const QByteArray& text) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok || value <= 0 || value > 0x3fffffff) {
        return std::nullopt;
    }
    return static_cast<pid_t>(value);
}

void OrphanRule::Observe(bool listening, Clock::time_point now) {
    if (listening) {
        silentSince_.reset();
    } else if (!silentSince_) {
        silentSince_ = now;
    }
}

bool OrphanRule::Orphaned(Clock::time_point now) const {
    return silentSince_ && now - *silentSince_ >= grace_;
}

ProcessWatch::ProcessWatch(pid_t pid, QObject* parent) : QObject(parent), pid_(pid) {
    errno = 0;
#ifdef SYS_pidfd_open
    pidfd_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
#endif
    if (pidfd_) {
        // A pidfd turns readable when the process ends.
        notifier_ = new QSocketNotifier(pidfd_.get(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &ProcessWatch::Check);
    } else if (errno == ESRCH) {
        ended_ = true;
        QTimer::singleShot(0, this, &ProcessWatch::Ended);
    } else {
        timer_ = new QTimer(this);
        connect(timer_, &QTimer::timeout, this, &ProcessWatch::Check);
        timer_->start(500);
    }
}

ProcessWatch::~ProcessWatch() {
    delete notifier_; // before its descriptor closes
}

bool ProcessWatch::Alive() const {
    if (ended_) {
        return false;
    }
    if (pidfd_) {
        pollfd probe{pidfd_.get(), POLLIN, 0};
        return ::poll(&probe, 1, 0) == 0;
    }
    return ::kill(pid_, 0) == 0 || errno == EPERM;
}

void ProcessWatch::Check() {
    if (ended_ || Alive()) {
        return;
    }
    ended_ = true;
    if (notifier_ != nullptr) {
        notifier_->setEnabled(false);
    }
    if (timer_ != nullptr) {
        timer_->stop();
    }
    emit Ended();
}

} // namespace ufd
