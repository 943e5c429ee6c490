// The local journal: records that could not reach their database wait here,
// one JSON object per line, until a later store takes them. Reading, storing
// and clearing happen under a lock file, and Append takes the same lock, so
// a record another station process appends is never cleared unread.
#pragma once

#include "results/drive_record.h"

#include <QByteArray>
#include <QLockFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace ufd {

// The lines of a journal: the records, and the lines that are not one (a
// crash cut the last one short), each ending in '\n'.
struct JournalLines {
    std::vector<DriveRecord> records;
    QByteArray rejected;
};
JournalLines ParseJournal(const QByteArray& bytes);

class Journal {
public:
    explicit Journal(QString path);

    // Held while reading, storing and clearing. A lock that is not held
    // (another process kept it past the wait, the disk is full) says why.
    class Lock {
    public:
        explicit Lock(const QString& journalPath);
        bool Held() const { return error_.isEmpty(); }
        const QString& Error() const { return error_; }

    private:
        std::unique_ptr<QLockFile> lock_;
        QString error_;
    };

    QString Path() const { return path_; }
    // Takes the lock, appends and syncs to disk. On failure the journal is
    // left as it was, and a journal this call made is removed again.
    bool Append(const std::vector<DriveRecord>& records, QString* error);
    // Under the caller's lock: every record in the journal (none when there
    // is no journal); nullopt when it cannot be read, or is not a regular
    // file. Lines that are not a record move to <path>.rejected so they are
    // kept but never block the rest.
    std::optional<std::vector<DriveRecord>> ReadAll(QString* error);
    // Under the caller's lock.
    bool Clear(QString* error);
    // Lines waiting; 0 when there is no journal or it cannot be read.
    int Count() const;

private:
    QString path_;
};

// A journal beyond this is not read whole (a journal of a few thousand runs
// holds a few megabytes); the station refuses it at start-up instead.
inline constexpr uintmax_t kMaxJournalBytes = uintmax_t{256} << 20;

// Why path cannot serve as a journal (it exists and is not a regular file,
// is larger than kMaxJournalBytes, or cannot be read); nullopt when it can or
// does not exist yet.
std::optional<QString> JournalProblem(const QString& path);

} // namespace ufd
