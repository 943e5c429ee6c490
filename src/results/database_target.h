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
    // Which database this is, the same however it was written: the absolute
    // file, or the URL without password and options, the port always given.
    QString Key() const;
};

struct TargetResult {
    DatabaseTarget target;
    std::optional<QString> error;
};

// Empty: $XDG_DATA_HOME/ufd-station/results.sqlite. "postgresql://" (or
// "postgres://") URLs: user[:password]@host[:port]/database, with "?host="
// for a socket directory; anything else is a SQLite file path.
TargetResult ParseDatabaseSetting(const QString& setting);

// The folder of the default database and of the journals.
QString ResultsDataDirectory();

// The journal of one database: "journal-<16 hex digits of its key's
// SHA-256>.jsonl", so records wait for their own database only.
QString JournalFileName(const DatabaseTarget& target);
// The journal of versions that kept one for every database; never replayed,
// since nothing in it says where its records belong.
inline constexpr const char* kUnmarkedJournalName = "journal.jsonl";

// The setting as it may be shown in a message: a PostgreSQL URL's password
// replaced by "***".
QString MaskedDatabaseSetting(const QString& setting);

} // namespace ufd
