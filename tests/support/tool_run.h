// Running the system's own disk tools (fsck, blkid, mtools, sfdisk) on images.
#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

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

} // namespace ufd::test
