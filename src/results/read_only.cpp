#include "results/read_only.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

namespace ufd {

namespace {

constexpr int kBusyTimeoutMs = 2000;
constexpr int kConnectTimeoutS = 3;

QString Why(const QSqlError& e) {
    const QString text = e.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

} // namespace

bool OpenReadOnly(const DatabaseTarget& target, const QString& connection, QString* error) {
    const bool sqlite = target.kind == DatabaseTarget::Kind::Sqlite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error = QStringLiteral("the Qt SQL driver %1 is not installed").arg(driver);
        return false;
    }
    if (sqlite && !QFileInfo::exists(target.file)) {
        *error = QStringLiteral("no results database (no run recorded yet)");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, connection);
    if (sqlite) {
        db.setDatabaseName(target.file);
        db.setConnectOptions(
            QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    } else {
        db.setHostName(target.host);
        if (target.port > 0) {
            db.setPort(target.port);
        }
        db.setDatabaseName(target.database);
        db.setUserName(target.user);
        db.setPassword(target.password);
        // Every transaction of this session is read-only: the server itself
        // refuses a write, whatever the role may do.
        db.setConnectOptions(QStringLiteral("connect_timeout=%1;options='-c "
                                            "default_transaction_read_only=on -c "
                                            "client_min_messages=warning'")
                                 .arg(kConnectTimeoutS));
    }
    if (!db.open()) {
        *error = Why(db.lastError());
        return false;
    }
    return true;
}

ReadOnlyDatabase::ReadOnlyDatabase(DatabaseTarget target)
    : target_(std::move(target)),
      connection_(QStringLiteral("ufd-read-") + QUuid::createUuid().toString(QUuid::Id128)) {}

ReadOnlyDatabase::~ReadOnlyDatabase() {
    Drop();
}

void ReadOnlyDatabase::Drop() {
    if (QSqlDatabase::contains(connection_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(connection_);
    }
    columns_.clear();
}

bool ReadOnlyDatabase::Open(QString* error) {
    if (!columns_.isEmpty() && Database().isOpen()) {
        return true;
    }
    Drop();
    if (!OpenReadOnly(target_, connection_, error)) {
        Drop();
        return false;
    }
    const QSqlRecord table = Database().record(QStringLiteral("drive_records"));
    for (int i = 0; i < table.count(); ++i) {
        columns_ << table.fieldName(i);
    }
    if (!columns_.contains(QStringLiteral("serial"))) {
        *error = QStringLiteral("no table drive_records (no run recorded yet)");
        Drop();
        return false;
    }
    return true;
}

QSqlDatabase ReadOnlyDatabase::Database() const {
    return QSqlDatabase::database(connection_, false);
}

} // namespace ufd
