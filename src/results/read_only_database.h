// One read-only connection to the results database (OpenReadOnly) that
// reconnects after a lost connection and knows which columns the record
// table has: they differ between the schema versions of older stations.
#pragma once

#include "results/database_target.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace ufd {

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
