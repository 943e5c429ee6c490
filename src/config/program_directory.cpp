#include "config/program_directory.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace ufd {

QString WithTrailingSeparator(const QString& directory) {
    QString result = directory;
    // Collapse a run of trailing separators so the result ends in exactly one.
    while (result.size() > 1 && result.endsWith(u'/') && result.at(result.size() - 2) == u'/') {
        result.chop(1);
    }
    if (!result.endsWith(u'/')) {
        result.append(u'/');
    }
    return result;
}

QString ProgramDirectory() {
    if (QCoreApplication::instance() != nullptr) {
        return WithTrailingSeparator(QCoreApplication::applicationDirPath());
    }
    // Tools without an application object still find their neighbours.
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    return WithTrailingSeparator(QFileInfo(exe.symLinkTarget()).absolutePath());
}

} // namespace ufd
