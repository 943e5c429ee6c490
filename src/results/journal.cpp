#include "results/journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>

#include <unistd.h>

namespace ufd {

namespace {

constexpr int kLockWaitMs = 10000;

bool AppendLines(const QString& path, const QByteArray& bytes, QString* error) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = path + QStringLiteral(": ") + f.errorString();
        return false;
    }
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (f.write(bytes) != bytes.size() || !f.flush() || ::fsync(f.handle()) != 0) {
        *error = path + QStringLiteral(": ") + f.errorString();
        return false;
    }
    return true;
}

} // namespace

Journal::Lock::Lock(const QString& path)
    : lock_(std::make_unique<QLockFile>(path + QStringLiteral(".lock"))) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    lock_->tryLock(kLockWaitMs);
}

Journal::Journal(QString path) : path_(std::move(path)) {}

bool Journal::Append(const std::vector<DriveRecord>& records, QString* error) {
    QByteArray bytes;
    for (const DriveRecord& r : records) {
        bytes += QJsonDocument(ToJson(r)).toJson(QJsonDocument::Compact) + '\n';
    }
    return AppendLines(path_, bytes, error);
}

std::vector<DriveRecord> Journal::ReadAll() {
    std::vector<DriveRecord> out;
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) {
        return out;
    }
    QByteArray rejected;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine();
        if (line.trimmed().isEmpty()) {
            continue;
        }
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        const std::optional<DriveRecord> r = doc.isObject() ? FromJson(doc.object()) : std::nullopt;
        if (r) {
            out.push_back(*r);
        } else {
            rejected += line.endsWith('\n') ? line : line + '\n';
        }
    }
    if (!rejected.isEmpty()) {
        QString ignored;
        if (AppendLines(path_ + QStringLiteral(".rejected"), rejected, &ignored)) {
            // Only the good lines stay; the swap is a rename, so a crash
            // leaves either the old journal or the new one.
            const QString fresh = path_ + QStringLiteral(".new");
            QFile::remove(fresh);
            QByteArray good;
            for (const DriveRecord& r : out) {
                good += QJsonDocument(ToJson(r)).toJson(QJsonDocument::Compact) + '\n';
            }
            f.close();
            if (AppendLines(fresh, good, &ignored)) {
                ::rename(QFile::encodeName(fresh).constData(),
                         QFile::encodeName(path_).constData());
            }
        }
    }
    return out;
}

bool Journal::Clear(QString* error) {
    if (QFile::exists(path_) && !QFile::remove(path_)) {
        *error = path_ + QStringLiteral(": cannot remove");
        return false;
    }
    return true;
}

int Journal::Count() const {
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) {
        return 0;
    }
    int n = 0;
    while (!f.atEnd()) {
        n += f.readLine().trimmed().isEmpty() ? 0 : 1;
    }
    return n;
}

} // namespace ufd
