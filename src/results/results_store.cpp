#include "results/results_store.h"

#include "results/read_only.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QUuid>

namespace ufd {

namespace {

constexpr int kBusyTimeoutMs = 2000;
constexpr int kConnectTimeoutS = 3;
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

QString Why(const QSqlError& e) {
    const QString text = e.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

bool Exec(QSqlDatabase& db, const QString& sql, QString* error) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        *error = Why(q.lastError()) + QStringLiteral(" (") + sql.left(60) + QStringLiteral(")");
        return false;
    }
    return true;
}

} // namespace

ResultsStore::ResultsStore(DatabaseTarget target, Access access)
    : target_(std::move(target)), access_(access),
      connection_(QStringLiteral("ufd-results-") + QUuid::createUuid().toString(QUuid::Id128)) {}

ResultsStore::~ResultsStore() {
    Drop();
}

void ResultsStore::Drop() {
    ready_ = false;
    if (QSqlDatabase::contains(connection_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(connection_);
    }
}

bool ResultsStore::Connect(QString* error) {
    if (access_ == Access::ReadOnly) {
        return OpenReadOnly(target_, connection_, error);
    }
    const bool sqlite = target_.kind == DatabaseTarget::Kind::Sqlite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error =
            QStringLiteral("the Qt SQL driver ") + driver + QStringLiteral(" is not installed");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, connection_);
    if (sqlite) {
        const QFileInfo file(target_.file);
        // SQLite would wait forever on a FIFO, and read a device as a file.
        if (file.exists() && !file.isFile()) {
            *error = target_.file + QStringLiteral(": not a regular file");
            return false;
        }
        QDir().mkpath(file.absolutePath());
        db.setDatabaseName(target_.file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=") +
                             QString::number(kBusyTimeoutMs));
    } else {
        db.setHostName(target_.host);
        if (target_.port > 0) {
            db.setPort(target_.port);
        }
        db.setDatabaseName(target_.database);
        db.setUserName(target_.user);
        db.setPassword(target_.password);
        // The server's notices ("already exists, skipping") are no news.
        db.setConnectOptions(
            QStringLiteral("connect_timeout=%1;options=-cclient_min_messages=warning")
                .arg(kConnectTimeoutS));
    }
    if (!db.open()) {
        *error = Why(db.lastError());
        return false;
    }
    // A write-ahead log: one sync per run's transaction instead of several,
    // and readers never wait for the station.
    return !sqlite || Exec(db, QStringLiteral("PRAGMA journal_mode=WAL"), error);
}

bool ResultsStore::EnsureSchema(QString* error) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const bool sqlite = target_.kind == DatabaseTarget::Kind::Sqlite;
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
            *error = Why(q.lastError());
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
    if (ready_ && QSqlDatabase::database(connection_, false).isOpen()) {
        return true;
    }
    Drop();
    const bool sqlite = target_.kind == DatabaseTarget::Kind::Sqlite;
    const bool fresh = sqlite && !QFileInfo::exists(target_.file);
    if (!Connect(error) || (access_ == Access::ReadWrite && !EnsureSchema(error))) {
        Drop();
        // A file this call made and could not write a byte into (a full
        // disk) is no database: leave nothing behind.
        if (fresh && QFileInfo(target_.file).size() == 0) {
            for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
                QFile::remove(target_.file + QLatin1String(suffix));
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
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const bool sqlite = target_.kind == DatabaseTarget::Kind::Sqlite;
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
            *error = Why(q.lastError());
        }
    }
    if (ok && Exec(db, QStringLiteral("COMMIT"), error)) {
        return true;
    }
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    return false;
}

std::optional<std::vector<DriveRecord>> ResultsStore::Read(const RecordFilter& filter,
                                                           QString* error) {
    if (!Open(error)) {
        return std::nullopt;
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    // Only the columns the table has: a reader never upgrades a database,
    // and a column added later reads as null in the records before it.
    const QSqlRecord table = db.record(QStringLiteral("drive_records"));
    if (table.isEmpty()) {
        return std::vector<DriveRecord>{};
    }
    QStringList names;
    std::vector<int> present; // per column of RecordColumns(): its place in the SELECT, or -1
    for (const Column& c : RecordColumns()) {
        present.push_back(table.contains(c.name) ? static_cast<int>(names.size()) : -1);
        if (table.contains(c.name)) {
            names << c.name;
        }
    }
    QStringList where;
    QVariantList binds;
    if (!filter.since.isEmpty()) {
        where << QStringLiteral("started_utc >= ?");
        binds << filter.since;
    }
    if (!filter.station.isEmpty()) {
        where << QStringLiteral("station_id = ?");
        binds << filter.station;
    }
    if (!filter.product.isEmpty()) {
        where << QStringLiteral("(vid || ':' || pid = ? OR usb_product = ?)");
        binds << filter.product << filter.product;
    }
    QString sql = QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) +
                  QStringLiteral(" FROM drive_records");
    if (!where.isEmpty()) {
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    }
    sql += QStringLiteral(" ORDER BY started_utc, run_id, slot");
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        *error = Why(q.lastError());
        return std::nullopt;
    }
    for (qsizetype i = 0; i < binds.size(); ++i) {
        q.bindValue(static_cast<int>(i), binds[i]);
    }
    if (!q.exec()) {
        *error = Why(q.lastError());
        return std::nullopt;
    }
    std::vector<DriveRecord> out;
    while (q.next()) {
        QVariantList values;
        for (const int at : present) {
            values << (at < 0 ? QVariant() : q.value(at));
        }
        out.push_back(FromValues(values));
    }
    return out;
}

} // namespace ufd
