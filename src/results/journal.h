// The local journal: records that could not reach the database wait here,
// one JSON object per line, until a later store takes them. Every change
// happens under a lock file, so appends from another station process on the
// same account are never lost between a replay's read and its clear.
#pragma once

#include "results/drive_record.h"

#include <QLockFile>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace ufd {

class Journal {
public:
    explicit Journal(QString path);

    // Held while reading, storing and clearing; Append takes it itself.
    class Lock {
    public:
        explicit Lock(const QString& path);
        bool Held() const { return lock_->isLocked(); }

    private:
        std::unique_ptr<QLockFile> lock_;
    };

    QString Path() const { return path_; }
    // Appends and syncs to disk.
    bool Append(const std::vector<DriveRecord>& records, QString* error);
    // Every record in the journal. Lines that are not a record (a crash cut
    // the last one short) move to <path>.rejected so they are kept but never
    // block the rest.
    std::vector<DriveRecord> ReadAll();
    bool Clear(QString* error);
    // Lines waiting; 0 when there is no journal.
    int Count() const;

private:
    QString path_;
};

} // namespace ufd
