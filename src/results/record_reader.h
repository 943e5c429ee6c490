// The one way records are read: ufd-results' list, export, yield, history and
// page all read through a RecordReader. It opens the database read-only (no
// file, table or schema is ever created or changed, so it reads beside a
// station's write transaction, and a role that may only SELECT is enough),
// reconnects after a lost connection, and reads the columns of the field
// table that the record table holds: a column added by a later schema reads
// as null in an older database.
#pragma once

#include "results/drive_record.h"
#include "results/record_filter.h"
#include "results/sql_connection.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace ufd {

class RecordReader {
public:
    // The longest list of records a bounded read returns.
    static constexpr int kMaxRuns = 500;

    explicit RecordReader(DatabaseTarget target);

    // Connects (again after a lost connection) and learns the record table's
    // columns. A database without the table opens (and reads as empty).
    bool Open(QString* error);
    // Open, and the table is there: what the figures need.
    bool OpenTable(QString* error);
    QSqlDatabase Database() const { return connection_.Database(); }
    bool Sqlite() const { return connection_.Sqlite(); }
    bool HasColumn(const QString& name) const { return columns_.contains(name); }
    const DatabaseTarget& Target() const { return connection_.Target(); }

    // Every record filter lets through, oldest first.
    std::optional<std::vector<DriveRecord>> Records(const RecordFilter& filter, QString* error);
    // The newest records filter lets through, newest first, at most limit
    // (1..kMaxRuns).
    std::optional<std::vector<DriveRecord>> Newest(const RecordFilter& filter, int limit,
                                                   QString* error);
    // Every run of one drive, oldest first, at most kMaxRuns.
    std::optional<std::vector<DriveRecord>> Drive(const QString& serial, QString* error);

    // The rows of SELECT ... FROM drive_records rest on the open connection,
    // one record at a time to each until it returns false; figuresOnly reads
    // only the columns the figures' index reads (the other fields stay
    // empty). false: the read failed, error says why.
    bool Each(const Statement& rest, bool figuresOnly,
              const std::function<bool(const DriveRecord&)>& each, QString* error);

private:
    // Open, then every column the table holds through Each.
    std::optional<std::vector<DriveRecord>> Select(const Statement& rest, QString* error);

    SqlConnection connection_;
    bool open_ = false;
    QStringList columns_;
};

} // namespace ufd
