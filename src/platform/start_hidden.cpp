#include "platform/start_hidden.h"

#include <QFileInfo>
#include <QProcess>

namespace ufd {

namespace {

// The classic answers of starting a program: above 31 means it runs.
constexpr int kStarted = 33;
constexpr int kFileNotFound = 2;
constexpr int kAccessDenied = 5;

} // namespace

int StartHidden(const QString& program) {
    const QFileInfo file(program);
    if (program.isEmpty() || !file.exists()) {
        return kFileNotFound;
    }
    if (!file.isFile() || !file.isExecutable()) {
        return kAccessDenied;
    }
    // No window, no arguments, no terminal: the monitor talks to the station
    // through the notice channel only.
    QProcess process;
    process.setProgram(file.absoluteFilePath());
    process.setArguments({});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached() ? kStarted : kAccessDenied;
}

} // namespace ufd
