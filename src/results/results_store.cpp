#include "results/results_store.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

namespace ufd {

namespace {

// Serialises schema changes of stations that start at the same moment.
constexpr int kSchemaLockKey = 0x55464452; // "UFDR"

QString SqlType(ColumnType t) {
    switch (t) {
    case ColumnType::Text:
        return QStringLiteral("TEXT");
    case ColumnType::Integer:
        return QStringLiteral("BIGINT");
    case ColumnType::Real:
        return QStringLiteral("DOUBLE PRECISION");
    }
    return {};
}

// Each step brings the schema from version i to i + 1: the first makes the
// table, each later one adds the columns of its version that the table does
// not hold yet (a test build may have added one under another version).
QStringList UpgradeStep(int toVersion, const QSqlRecord& table) {
    if (toVersion == 1) {
        QStringList columns;
        for (const Column& c : RecordColumns()) {
            if (c.since == 1) {
                columns << c.name + QLatin1Char(' ') + SqlType(c.type);
            }
        }
        return {QStringLiteral("CREATE TABLE drive_records (") +
                    columns.join(QStringLiteral(", ")) +
                    QStringLiteral(", PRIMARY KEY (run_id, slot))"),
                QStringLiteral("CREATE INDEX drive_records_started ON drive_records (started_utc)"),
                QStringLiteral("CREATE INDEX drive_records_station ON drive_records (station_id)")};
    }
    QStringList added;
    for (const Column& c : RecordColumns()) {
        if (c.since == toVersion && !table.contains(c.name)) {
            added << QStringLiteral("ALTER TABLE drive_records ADD COLUMN ") + c.name +
                         QLatin1Char(' ') + SqlType(c.type);
        }
    }
    return added;
}

bool Exec(QSqlDatabase& db, const QString& sql, QString* error) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        *error =
            SqlErrorText(q.lastError()) + QStringLiteral(" (") + sql.left(60) + QStringLiteral(")");
        return false;
    }
    return true;
}

} // namespace

ResultsStore::ResultsStore(DatabaseTarget target)
    : connection_(std::move(target), SqlConnection::Access::ReadWrite) {}

ResultsStore::~ResultsStore() {
    Drop();
}

void ResultsStore::Drop() {
    ready_ = false;
    connection_.Drop();
}

bool ResultsStore::EnsureSchema(QString* error) {
    QSqlDatabase db = connection_.Database();
    const bool sqlite = connection_.Sqlite();
    // SQLite: take the write lock at once; PostgreSQL: one station at a time.
    if (!Exec(db, sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), error)) {
        return false;
    }
    auto fail = [&db] {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    if (!sqlite &&
        !Exec(db, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLockKey), error)) {
        return fail();
    }
    if (!Exec(
            db,
            QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"),
            error)) {
        return fail();
    }
    int version = 0;
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version"))) {
            *error = SqlErrorText(q.lastError());
            return fail();
        }
        if (q.next()) {
            version = q.value(0).toInt();
        }
    }
    if (version > kSchemaVersion) {
        *error = QStringLiteral("the database has schema version %1, newer than this station's %2")
                     .arg(version)
                     .arg(kSchemaVersion);
        return fail();
    }
    for (int to = version + 1; to <= kSchemaVersion; ++to) {
        for (const QString& sql : UpgradeStep(to, db.record(QStringLiteral("drive_records")))) {
            if (!Exec(db, sql, error)) {
                return fail();
            }
        }
        if (!Exec(db, QStringLiteral("DELETE FROM schema_version"), error) ||
            !Exec(db, QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(to),
                  error)) {
            return fail();
        }
    }
    return Exec(db, QStringLiteral("COMMIT"), error) || fail();
}

bool ResultsStore::Open(QString* error) {
    if (ready_ && connection_.IsOpen()) {
        return true;
    }
    Drop();
    const QString& file = connection_.Target().file;
    const bool fresh = connection_.Sqlite() && !QFileInfo::exists(file);
    // A write-ahead log: one sync per run's transaction instead of several,
    // and readers never wait for the station.
    const auto wal = [&] {
        QSqlDatabase db = connection_.Database();
        return !connection_.Sqlite() || Exec(db, QStringLiteral("PRAGMA journal_mode=WAL"), error);
    };
    if (!connection_.Connect(error) || !wal() || !EnsureSchema(error)) {
        Drop();
        // A file this call made and could not write a byte into (a full
        // disk) is no database: leave nothing behind.
        if (fresh && QFileInfo(file).size() == 0) {
            for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
                QFile::remove(file + QLatin1String(suffix));
            }
        }
        return false;
    }
    ready_ = true;
    return true;
}

bool ResultsStore::Store(const std::vector<DriveRecord>& records, QString* error) {
    if (!Open(error)) {
        return false;
    }
    if (StoreAll(records, error)) {
        return true;
    }
    // A dead server shows here first; connect afresh next time.
    Drop();
    return false;
}

bool ResultsStore::StoreAll(const std::vector<DriveRecord>& records, QString* error) {
    QSqlDatabase db = connection_.Database();
    const bool sqlite = connection_.Sqlite();
    QStringList names;
    QStringList marks;
    for (const Column& c : RecordColumns()) {
        names << c.name;
        marks << QStringLiteral("?");
    }
    const QString insert = QStringLiteral("INSERT INTO drive_records (") +
                           names.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
                           marks.join(QStringLiteral(", ")) +
                           QStringLiteral(") ON CONFLICT (run_id, slot) DO NOTHING");
    if (!Exec(db, sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), error)) {
        return false;
    }
    bool ok = true;
    {
        QSqlQuery q(db);
        ok = q.prepare(insert);
        for (size_t i = 0; ok && i < records.size(); ++i) {
            const QVariantList values = ToValues(records[i]);
            for (qsizetype v = 0; v < values.size(); ++v) {
                q.bindValue(static_cast<int>(v), values[v]);
            }
            ok = q.exec();
        }
        if (!ok) {
            *error = SqlErrorText(q.lastError());
        }
    }
    if (ok && Exec(db, QStringLiteral("COMMIT"), error)) {
        return true;
    }
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    return false;
}

} // namespace ufd
