// Running the system's own disk tools (fsck, mtools, sfdisk) on images.
#pragma once

#include "support/test_common.h"

#include <QProcess>
#include <QStandardPaths>

namespace ufd::test {

struct ToolRun {
    int exitCode = -1;
    QString output; // stdout and stderr together
};

// A tool on PATH or in the sbin folders, which a non-root PATH may lack.
inline QString FindTool(const QString& name) {
    QString path = QStandardPaths::findExecutable(name);
    return path.isEmpty() ? QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin"}) : path;
}

inline ToolRun RunTool(const QString& tool, const QStringList& args) {
    const QString path = FindTool(tool);
    if (path.isEmpty()) {
        return {-1, tool + " is not installed"};
    }
    QProcess p;
    p.setEnvironment(QProcess::systemEnvironment() +
                     QStringList{"MTOOLS_SKIP_CHECK=1", "LC_ALL=C"});
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(path, args);
    const bool done = p.waitForFinished(120000); // a guard against a hung tool
    return {done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAll())};
}

// Sectors [start, start + count) of image into a file of their own. Only the
// image's data extents are copied, so a partition of 512 GiB costs what was
// written, not its size. False when a file could not be read or written.
inline bool CopyPartition(const QString& image, int64_t start, int64_t count, const QString& out) {
    const int in = ::open(QFile::encodeName(image).constData(), O_RDONLY | O_CLOEXEC);
    const int fd = ::open(QFile::encodeName(out).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool ok = in >= 0 && fd >= 0 && ::ftruncate(fd, count * 512) == 0;
    const off_t from = start * 512, to = (start + count) * 512;
    for (off_t at = ok ? ::lseek(in, from, SEEK_DATA) : -1; ok && at >= 0 && at < to;
         at = ::lseek(in, at, SEEK_DATA)) {
        for (off_t end = std::min<off_t>(::lseek(in, at, SEEK_HOLE), to), dst = at - from;
             ok && at < end;) {
            ok = ::copy_file_range(in, &at, fd, &dst, static_cast<size_t>(end - at), 0) > 0;
        }
    }
    for (const int f : {in, fd}) {
        ok = (f < 0 || ::close(f) == 0) && ok;
    }
    return ok;
}

} // namespace ufd::test
