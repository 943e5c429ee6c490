#include "results/cfx_drop_folder.h"

#include "base/unique_fd.h"
#include "base/whole_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ufd {

namespace {

// The run id as a file name: the station's ids are UUIDs, but a stored run id
// is only text, and must not reach another folder.
QString FileStem(const QString& runId) {
    QString stem;
    for (const QChar c : runId) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || c == u'-' || c == u'_';
        stem += plain ? c : QLatin1Char('_');
    }
    return stem.isEmpty() ? QStringLiteral("run") : stem;
}

QString Failed(const QString& path, int error) {
    return QStringLiteral("the MES file %1 could not be written: %2")
        .arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

DropOutcome WriteCfxDropFile(const QString& folder, const std::vector<DriveRecord>& run,
                             const CfxLimits& limits) {
    DropOutcome out;
    const QString stem = FileStem(run.empty() ? QString() : run.front().RunId);
    out.path = QDir(folder).filePath(stem + QStringLiteral(".json"));
    if (!QFileInfo(folder).isDir()) {
        out.error = QStringLiteral("the MES file %1 could not be written: [Records] DropFolder %2 "
                                   "is not a folder")
                        .arg(out.path, folder);
        return out;
    }
    // Hidden and named apart from *.json, so a reader that lists the folder
    // while the bytes go in never picks it up.
    QByteArray tmp = QFile::encodeName(
        QDir(folder).filePath(QLatin1Char('.') + stem + QStringLiteral(".json.XXXXXX")));
    UniqueFd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (!fd) {
        out.error = Failed(out.path, errno);
        return out;
    }
    // mkostemp makes it private; the MES reads it as another user.
    if (::fchmod(fd.get(), 0644) != 0) {
        const int error = errno;
        fd.reset();
        ::unlink(tmp.constData());
        out.error = Failed(out.path, error);
        return out;
    }
    const QByteArray bytes = CfxUnitsTestedJson(run, limits);
    if (const int error = CommitWholeFile(std::move(fd), tmp.toStdString(),
                                          QFile::encodeName(out.path).toStdString(),
                                          bytes.constData(), size_t(bytes.size()), true);
        error != 0) {
        out.error = Failed(out.path, error);
        return out;
    }
    // The rename itself on disk too, so a power cut cannot take back a file
    // the MES may already have read.
    if (const UniqueFd dir(
            ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        dir.get() >= 0) {
        ::fsync(dir.get());
    }
    return out;
}

QString WriteDropFile(const QString& folder, const std::vector<DriveRecord>& run,
                      const CfxLimits& limits) {
    if (folder.isEmpty() || run.empty()) {
        return {};
    }
    const DropOutcome out = WriteCfxDropFile(folder, run, limits);
    if (!out.error) {
        return {};
    }
    const QString warning = *out.error + QStringLiteral("; the records are stored as usual");
    qWarning("ufd-station: %s", qPrintable(warning));
    return warning;
}

} // namespace ufd
