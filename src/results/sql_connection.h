// One Qt SQL connection to the results database, set up in one place for the
// station's store and for every reader: the driver, the SQLite file's checks,
// PostgreSQL's host, port, database, user and password. The connection's
// name is its own; Drop() closes and removes it, as does destruction.
#pragma once

#include "results/database_target.h"

#include <QSqlDatabase>
#include <QString>

class QSqlError;

namespace ufd {

class SqlConnection {
public:
    // ReadOnly: a SQLite file opened with SQLITE_OPEN_READONLY (one that is
    // not there is an error, never an empty new database), a PostgreSQL
    // session whose every transaction is read-only. ReadWrite makes the
    // SQLite file's folder.
    enum class Access { ReadWrite, ReadOnly };

    SqlConnection(DatabaseTarget target, Access access);
    ~SqlConnection();
    SqlConnection(const SqlConnection&) = delete;
    SqlConnection& operator=(const SqlConnection&) = delete;

    // Connects afresh; false with the reason, the connection dropped.
    bool Connect(QString* error);
    void Drop();
    bool IsOpen() const;
    QSqlDatabase Database() const;
    bool Sqlite() const { return target_.kind == DatabaseTarget::Kind::Sqlite; }
    const DatabaseTarget& Target() const { return target_; }

private:
    DatabaseTarget target_;
    Access access_;
    QString name_;
};

// The reason of a failed statement or connection, never empty.
QString SqlErrorText(const QSqlError& error);

} // namespace ufd
