// Running the system's own disk tools (fsck, blkid, mtools, sfdisk) on images.
#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

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
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MTOOLS_SKIP_CHECK", "1");
    env.insert("LC_ALL", "C");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    const QString path = FindTool(tool);
    if (path.isEmpty()) {
        return {-1, tool + " is not installed"};
    }
    p.start(path, args);
    const bool done = p.waitForFinished(120000); // a guard against a hung tool
    return {done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAll())};
}

// Sectors [start, start + count) of image into a file of their own. Only the
// image's data extents are copied, so a partition of 512 GiB costs what was
// written, not its size. False when a file could not be read or written.
inline bool CopyPartition(const QString& image, int64_t start, int64_t count, const QString& out) {
    const int in = ::open(image.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    const int fd = ::open(out.toLocal8Bit().constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool ok = in >= 0 && fd >= 0 && ::ftruncate(fd, count * 512) == 0;
    const off_t from = start * 512, to = (start + count) * 512;
    std::vector<char> buf(1 << 20);
    for (off_t at = ok ? ::lseek(in, from, SEEK_DATA) : -1; ok && at >= 0 && at < to;
         at = ::lseek(in, at, SEEK_DATA)) {
        const off_t end = std::min<off_t>(::lseek(in, at, SEEK_HOLE), to);
        while (ok && at < end) {
            const ssize_t n = ::pread(in, buf.data(),
                                      static_cast<size_t>(std::min<off_t>(end - at, 1 << 20)), at);
            ok = n > 0 && ::pwrite(fd, buf.data(), static_cast<size_t>(n), at - from) == n;
            at += n;
        }
    }
    if (in >= 0) {
        ::close(in);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

} // namespace ufd::test
