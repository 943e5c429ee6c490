// A station's connection to the results database (SQLite or PostgreSQL
// through Qt SQL): it creates and upgrades the schema on open and stores each
// run's records in one transaction. Readers read through RecordReader. A
// store belongs to the thread that made it.
#pragma once

#include "results/drive_record.h"
#include "results/sql_connection.h"

#include <QString>

#include <optional>
#include <vector>

namespace ufd {

// The schema this station writes. A database with a newer one is refused.
inline constexpr int kSchemaVersion = 5;

class ResultsStore {
public:
    explicit ResultsStore(DatabaseTarget target);
    ~ResultsStore();
    ResultsStore(const ResultsStore&) = delete;
    ResultsStore& operator=(const ResultsStore&) = delete;

    // Connects if not connected and brings the schema to
    // kSchemaVersion. On failure the connection is dropped, so the next call
    // tries afresh; a SQLite file this call made is removed again.
    bool Open(QString* error);
    // All records in one transaction. A record whose (run_id, slot) is
    // already there is left as it is, so a replay never doubles a record.
    bool Store(const std::vector<DriveRecord>& records, QString* error);

private:
    bool EnsureSchema(QString* error);
    bool StoreAll(const std::vector<DriveRecord>& records, QString* error);
    void Drop();

    SqlConnection connection_;
    bool ready_ = false;
};

} // namespace ufd
