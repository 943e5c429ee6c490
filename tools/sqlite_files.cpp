#include "sqlite_files.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

#include <sys/stat.h>

namespace ufd {

namespace {

// SQLite's WAL format: a 32-byte header, then frames; the -shm begins with
// the wal-index header (mxFrame, the last valid frame, at byte 16) and the
// checkpoint record (nBackfill, the frames copied back, at byte 96), both in
// the machine's byte order.
constexpr qint64 kWalHeader = 32;
constexpr qint64 kMxFrame = 16;
constexpr qint64 kBackfill = 96;

} // namespace

FileId IdOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return {};
    }
    return {st.st_dev, st.st_ino, true};
}

bool WalAhead(const QString& database) {
    const QFileInfo wal(database + QStringLiteral("-wal"));
    if (!wal.exists() || wal.size() <= kWalHeader) {
        return false;
    }
    QFile shm(database + QStringLiteral("-shm"));
    if (!shm.open(QIODevice::ReadOnly)) {
        return true;
    }
    const QByteArray head = shm.read(kBackfill + 4);
    if (head.size() < kBackfill + 4) {
        return true;
    }
    quint32 mxFrame = 0, backfill = 0;
    std::memcpy(&mxFrame, head.constData() + kMxFrame, sizeof mxFrame);
    std::memcpy(&backfill, head.constData() + kBackfill, sizeof backfill);
    return mxFrame > backfill;
}

} // namespace ufd
