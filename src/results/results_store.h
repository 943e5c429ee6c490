// One connection to the results database (SQLite or PostgreSQL through Qt
// SQL). A station's store creates and upgrades the schema on open and stores
// each run's records in one transaction; a reader's store only reads. A
// store belongs to the thread that made it.
#pragma once

#include "results/database_target.h"
#include "results/drive_record.h"

#include <QString>

#include <optional>
#include <vector>

namespace ufd {

// The schema this station writes. A database with a newer one is refused.
inline constexpr int kSchemaVersion = 5;

struct RecordFilter {
    QString since;   // records started at or after this time, as ParseTimeOption gives it
    QString station; // station id
    QString product; // "VID:PID" or the USB product string
};

class ResultsStore {
public:
    // ReadOnly: no write transaction, no schema statement, no file made or
    // written (SQLite opened read-only, PostgreSQL sessions read-only), so
    // a reader works beside a station's write transaction and with a role
    // that may only SELECT. A database without records reads as empty.
    enum class Access { ReadWrite, ReadOnly };

    explicit ResultsStore(DatabaseTarget target, Access access = Access::ReadWrite);
    ~ResultsStore();
    ResultsStore(const ResultsStore&) = delete;
    ResultsStore& operator=(const ResultsStore&) = delete;

    // Connects if not connected and (ReadWrite) brings the schema to
    // kSchemaVersion. On failure the connection is dropped, so the next call
    // tries afresh; a SQLite file this call made is removed again.
    bool Open(QString* error);
    // All records in one transaction. A record whose (run_id, slot) is
    // already there is left as it is, so a replay never doubles a record.
    bool Store(const std::vector<DriveRecord>& records, QString* error);
    std::optional<std::vector<DriveRecord>> Read(const RecordFilter& filter, QString* error);
    // The schema version the database holds (0: none yet); nullopt on error.
    std::optional<int> SchemaVersion(QString* error);

    const DatabaseTarget& Target() const { return target_; }

private:
    bool Connect(QString* error);
    bool EnsureSchema(QString* error);
    bool StoreAll(const std::vector<DriveRecord>& records, QString* error);
    void Drop();

    DatabaseTarget target_;
    Access access_;
    QString connection_;
    bool ready_ = false;
};

} // namespace ufd
