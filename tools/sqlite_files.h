// The files of a SQLite database on disk as the page server watches them:
// which file a path names now, and whether a -wal still holds pages that its
// database file does not (so that a file restored under it would be read
// with the old file's pages laid over it).
#pragma once

#include <QString>

#include <sys/types.h>

namespace ufd {

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool exists = false;
    bool operator==(const FileId&) const = default;
};

// The device and inode path names now; exists false when there is none.
FileId IdOf(const QString& path);

// True when database's -wal holds frames not yet copied into a database
// file: the -shm's index says more frames than were checkpointed, or there
// is no -shm to say and the -wal holds more than its header.
bool WalAhead(const QString& database);

} // namespace ufd
