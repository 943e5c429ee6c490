// The local journal: records that could not reach the database wait here,
// one JSON object per line, until a later store takes them. The results
// writer reads, stores, appends and clears under a Lock, so two station
// processes of one account take turns; the journal's own calls take none.
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

    // A lock file beside the journal, held for the Lock's life. It waits up
    // to 10 s for another holder, then lets the caller go on without it.
    class Lock {
    public:
        explicit Lock(const QString& path);

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
