#include "monitor/instance_lock.h"

#include "base/runtime_dir.h"
#include "monitor/station_presence.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ufd {

QString InstanceLockPath(const QString& channelName, QString* refusal) {
    const PrivateDirectory run = RuntimeDirectory();
    if (!run.ok()) {
        if (refusal != nullptr) {
            *refusal = QString::fromStdString(run.refusal);
        }
        return {};
    }
    const QString directory = QFile::decodeName(run.path.c_str());
    QString safe;
    for (const QChar c : channelName) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           c == QLatin1Char('-') || c == QLatin1Char('.');
        safe += plain ? c : QLatin1Char('_');
    }
    return directory + QStringLiteral("/vasket-") + safe + QStringLiteral(".lock");
}

std::optional<InstanceLock> InstanceLock::TryAcquire(const QString& path, bool* held) {
    if (held != nullptr) {
        *held = false;
    }
    const QByteArray name = QFile::encodeName(path);
    UniqueFd fd(path.isEmpty()
                    ? -1
                    : ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
        return std::nullopt;
    }
    int rc = 0;
    do {
        rc = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (held != nullptr) {
            *held = errno == EWOULDBLOCK;
        }
        return std::nullopt;
    }
    return InstanceLock(std::move(fd));
}

void InstanceLock::WriteOwner(pid_t monitor, std::optional<pid_t> station) {
    if (!fd_) {
        return;
    }
    const std::string text =
        std::to_string(monitor) + " " + std::to_string(station ? *station : 0) + "\n";
    // The record is advice for the next instance; a failed write only
    // makes it exit instead of waiting.
    if (::ftruncate(fd_.get(), 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd_.get(), text.data(), text.size(), 0);
    }
}

void InstanceLock::Beat() {
    if (fd_) {
        ::futimens(fd_.get(), nullptr); // a missed beat is only a late one
    }
}

namespace {

std::optional<pid_t> ReadOwnerField(const QString& path, int field) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QList<QByteArray> fields = file.read(64).simplified().split(' ');
    if (fields.size() < 2) {
        return std::nullopt;
    }
    return ParseProcessId(fields[field]);
}

} // namespace

std::optional<pid_t> ReadOwnerStation(const QString& path) {
    return ReadOwnerField(path, 1);
}

std::optional<pid_t> ChannelMonitor(const QString& channelName) {
    const std::optional<pid_t> pid = ReadOwnerField(InstanceLockPath(channelName), 0);
    if (!pid || (::kill(*pid, 0) != 0 && errno != EPERM)) {
        return std::nullopt;
    }
    return pid;
}

std::optional<int64_t> ChannelMonitorBeat(const QString& channelName) {
    const QString path = InstanceLockPath(channelName);
    struct stat info {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
}

} // namespace ufd
