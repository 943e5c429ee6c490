// The results database opened for reading only, as ufd-results and its page
// use it: no file, table or schema is ever created or changed, so a
// PostgreSQL role that may only SELECT is enough.
#pragma once

#include "results/database_target.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace ufd {

// Opens target under the Qt SQL connection name connection, read-only. A
// SQLite file that is not there is an error, never an empty new database.
bool OpenReadOnly(const DatabaseTarget& target, const QString& connection, QString* error);

// One read-only connection of its own, closed and removed on destruction.
class ReadOnlyDatabase {
public:
    explicit ReadOnlyDatabase(DatabaseTarget target);
    ~ReadOnlyDatabase();
    ReadOnlyDatabase(const ReadOnlyDatabase&) = delete;
    ReadOnlyDatabase& operator=(const ReadOnlyDatabase&) = delete;

    // Connects (again after a lost connection) and learns the record
    // table's columns, which differ between schema versions.
    bool Open(QString* error);
    QSqlDatabase Database() const;
    bool Sqlite() const { return target_.kind == DatabaseTarget::Kind::Sqlite; }
    bool HasColumn(const QString& name) const { return columns_.contains(name); }
    const DatabaseTarget& Target() const { return target_; }

private:
    void Drop();

    DatabaseTarget target_;
    QString connection_;
    QStringList columns_;
};

} // namespace ufd
