#include "results/sql_connection.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QUuid>

namespace ufd {

namespace {

constexpr int kBusyTimeoutMs = 2000;
constexpr int kConnectTimeoutS = 3;

} // namespace

QString SqlErrorText(const QSqlError& error) {
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

SqlConnection::SqlConnection(DatabaseTarget target, Access access)
    : target_(std::move(target)), access_(access),
      name_(QStringLiteral("ufd-results-") + QUuid::createUuid().toString(QUuid::Id128)) {}

SqlConnection::~SqlConnection() {
    Drop();
}

void SqlConnection::Drop() {
    if (QSqlDatabase::contains(name_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }
}

bool SqlConnection::IsOpen() const {
    return QSqlDatabase::contains(name_) && Database().isOpen();
}

QSqlDatabase SqlConnection::Database() const {
    return QSqlDatabase::database(name_, false);
}

bool SqlConnection::Connect(QString* error) {
    Drop();
    const bool readOnly = access_ == Access::ReadOnly;
    const QString driver = Sqlite() ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error =
            QStringLiteral("the Qt SQL driver ") + driver + QStringLiteral(" is not installed");
        return false;
    }
    const QFileInfo file(target_.file);
    if (Sqlite() && readOnly && !file.exists()) {
        *error = QStringLiteral("no results database (no run recorded yet)");
        return false;
    }
    // SQLite would wait forever on a FIFO, and read a device as a file.
    if (Sqlite() && file.exists() && !file.isFile()) {
        *error = readOnly ? QStringLiteral("not a regular file")
                          : target_.file + QStringLiteral(": not a regular file");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, name_);
    if (Sqlite()) {
        if (!readOnly) {
            QDir().mkpath(file.absolutePath());
        }
        db.setDatabaseName(target_.file);
        db.setConnectOptions((readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;") : QString()) +
                             QStringLiteral("QSQLITE_BUSY_TIMEOUT=") +
                             QString::number(kBusyTimeoutMs));
    } else {
        db.setHostName(target_.host);
        if (target_.port > 0) {
            db.setPort(target_.port);
        }
        db.setDatabaseName(target_.database);
        db.setUserName(target_.user);
        db.setPassword(target_.password);
        // A reader's every transaction is read-only: the server itself
        // refuses a write, whatever the role may do. The server's notices
        // ("already exists, skipping") are no news.
        db.setConnectOptions(
            QStringLiteral("connect_timeout=") + QString::number(kConnectTimeoutS) +
            (readOnly ? QStringLiteral(";options='-c default_transaction_read_only=on "
                                       "-c client_min_messages=warning'")
                      : QStringLiteral(";options=-cclient_min_messages=warning")));
    }
    if (!db.open()) {
        *error = SqlErrorText(db.lastError());
        db = QSqlDatabase();
        Drop();
        return false;
    }
    return true;
}

} // namespace ufd
