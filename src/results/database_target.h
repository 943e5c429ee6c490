// Where the records go: [Results] Database of station.conf turned into a Qt
// SQL driver and its connection parameters.
#pragma once

#include <QString>

#include <optional>

namespace ufd {

struct DatabaseTarget {
    enum class Kind { Sqlite, Postgres } kind = Kind::Sqlite;
    QString file;                                    // SQLite
    QString host, database, user, password, options; // PostgreSQL
    int port = -1;
    // For messages: the file, or the URL without its password.
    QString Describe() const;
};

struct TargetResult {
    DatabaseTarget target;
    std::optional<QString> error;
};

// Empty: $XDG_DATA_HOME/ufd-station/results.sqlite. "postgresql://" (or
// "postgres://") URLs: user[:password]@host[:port]/database, with "?host="
// for a socket directory; anything else is a SQLite file path.
TargetResult ParseDatabaseSetting(const QString& setting);

// The folder of the default database and of the journal.
QString ResultsDataDirectory();

} // namespace ufd
