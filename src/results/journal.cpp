#include "results/journal.h"

#include "base/regular_file.h"
#include "base/unique_fd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ufd {

namespace {

constexpr int kLockWaitMs = 10000;

QString Why(const QString& path, int err) {
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
}

QString NotRegular(const QString& path) {
    return path + QStringLiteral(": not a regular file");
}

QString TooLarge(const QString& path) {
    return path + QStringLiteral(": larger than ") + QString::number(kMaxJournalBytes) +
           QStringLiteral(" bytes, too large to replay");
}

// Opens path for appending without ever waiting on a FIFO or a device, and
// refuses what is not a regular file. A missing file is made (mode 0600) and
// *created says so. Holds nothing on failure, with *error set.
UniqueFd OpenForAppend(const QString& path, bool* created, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC;
    UniqueFd fd(::open(name.constData(), kFlags));
    if (!fd && errno == ENOENT) {
        fd.reset(::open(name.constData(), kFlags | O_CREAT | O_EXCL, 0600));
        *created = static_cast<bool>(fd);
    }
    if (!fd) {
        *error = errno == ENXIO ? NotRegular(path) : Why(path, errno);
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = NotRegular(path);
        return {};
    }
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// The whole file; none when there is no file.
bool ReadFile(const QString& path, QByteArray* bytes, QString* error) {
    using Result = RegularFileRead::Result;
    const RegularFileRead read =
        ReadRegularFile(QFile::encodeName(path).toStdString(), kMaxJournalBytes);
    switch (read.result) {
    case Result::Read:
        *bytes = QByteArray(read.bytes.data(), static_cast<qsizetype>(read.bytes.size()));
        return true;
    case Result::Absent:
        return true;
    case Result::NotRegular:
        *error = NotRegular(path);
        return false;
    case Result::TooLarge:
        *error = TooLarge(path);
        return false;
    case Result::Unreadable:
        break;
    }
    *error = Why(path, read.error);
    return false;
}

// Appends and syncs. On failure the file is cut back to its old length, or
// removed when this call made it, so a full disk leaves neither half a line
// nor an empty file.
bool AppendBytes(const QString& path, const QByteArray& bytes, QString* error) {
    bool created = false;
    const UniqueFd fd = OpenForAppend(path, &created, error);
    if (!fd) {
        return false;
    }
    struct stat before {};
    ::fstat(fd.get(), &before);
    qsizetype done = 0;
    int err = 0;
    while (done < bytes.size() && err == 0) {
        const ssize_t n =
            ::write(fd.get(), bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        err = n < 0 && errno != EINTR ? errno : 0;
        done += n > 0 ? n : 0;
    }
    if (err == 0 && ::fsync(fd.get()) != 0) {
        err = errno;
    }
    if (err == 0) {
        return true;
    }
    *error = Why(path, err);
    if (created) {
        ::unlink(QFile::encodeName(path).constData());
    } else if (::ftruncate(fd.get(), before.st_size) != 0) {
        *error += QStringLiteral(" (and it could not be cut back: a line may be torn)");
    }
    return false;
}

QByteArray Lines(const std::vector<DriveRecord>& records) {
    QByteArray bytes;
    for (const DriveRecord& r : records) {
        bytes += QJsonDocument(ToJson(r)).toJson(QJsonDocument::Compact) + '\n';
    }
    return bytes;
}

} // namespace

JournalLines ParseJournal(const QByteArray& bytes) {
    JournalLines out;
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.trimmed().isEmpty()) {
            continue;
        }
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        const std::optional<DriveRecord> r = doc.isObject() ? FromJson(doc.object()) : std::nullopt;
        if (r) {
            out.records.push_back(*r);
        } else {
            out.rejected += line + '\n';
        }
    }
    return out;
}

std::optional<QString> JournalProblem(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return errno == ENOENT ? std::nullopt : std::optional(Why(path, errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return NotRegular(path);
    }
    return static_cast<uintmax_t>(st.st_size) > kMaxJournalBytes ? std::optional(TooLarge(path))
                                                                 : std::nullopt;
}

Journal::Lock::Lock(const QString& journalPath)
    : lock_(std::make_unique<QLockFile>(journalPath + QStringLiteral(".lock"))) {
    const QString path = lock_->fileName();
    QDir().mkpath(QFileInfo(path).absolutePath());
    // QLockFile reads a lock file it finds: a FIFO there would hang it.
    if (const std::optional<QString> problem = JournalProblem(path)) {
        error_ = *problem;
        return;
    }
    if (lock_->tryLock(kLockWaitMs)) {
        return;
    }
    qint64 pid = 0;
    QString host, app;
    switch (lock_->error()) {
    case QLockFile::LockFailedError:
        lock_->getLockInfo(&pid, &host, &app);
        error_ = path + QStringLiteral(": held by process ") + QString::number(pid) +
                 QStringLiteral(" for more than ") + QString::number(kLockWaitMs / 1000) +
                 QStringLiteral(" s");
        break;
    case QLockFile::PermissionError:
        error_ = path + QStringLiteral(": cannot be created (permission denied)");
        break;
    default:
        error_ = path + QStringLiteral(": cannot be written (is the disk full?)");
        break;
    }
}

Journal::Journal(QString path) : path_(std::move(path)) {}

bool Journal::Append(const std::vector<DriveRecord>& records, QString* error) {
    const Lock held(path_);
    if (!held.Held()) {
        *error = held.Error();
        return false;
    }
    return AppendBytes(path_, Lines(records), error);
}

std::optional<std::vector<DriveRecord>> Journal::ReadAll(QString* error) {
    QByteArray bytes;
    if (!ReadFile(path_, &bytes, error)) {
        return std::nullopt;
    }
    JournalLines lines = ParseJournal(bytes);
    QString ignored;
    if (!lines.rejected.isEmpty() &&
        AppendBytes(path_ + QStringLiteral(".rejected"), lines.rejected, &ignored)) {
        // Only the good lines stay; the swap is a rename, so a crash leaves
        // either the old journal or the new one.
        const QString fresh = path_ + QStringLiteral(".new");
        ::unlink(QFile::encodeName(fresh).constData());
        if (lines.records.empty()) {
            ::unlink(QFile::encodeName(path_).constData());
        } else if (AppendBytes(fresh, Lines(lines.records), &ignored)) {
            ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path_).constData());
        }
    }
    return std::move(lines.records);
}

bool Journal::Clear(QString* error) {
    if (::unlink(QFile::encodeName(path_).constData()) != 0 && errno != ENOENT) {
        *error = Why(path_, errno) + QStringLiteral(" (cannot remove)");
        return false;
    }
    return true;
}

int Journal::Count() const {
    QByteArray bytes;
    QString ignored;
    if (!ReadFile(path_, &bytes, &ignored)) {
        return 0;
    }
    int n = 0;
    for (const QByteArray& line : bytes.split('\n')) {
        n += line.trimmed().isEmpty() ? 0 : 1;
    }
    return n;
}

} // namespace ufd
