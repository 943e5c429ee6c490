#include "results/read_only.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>

namespace ufd {

namespace {

constexpr int kBusyTimeoutMs = 2000;
constexpr int kConnectTimeoutS = 3;

} // namespace

bool OpenReadOnly(const DatabaseTarget& target, const QString& connection, QString* error) {
    const bool sqlite = target.kind == DatabaseTarget::Kind::Sqlite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error =
            QStringLiteral("the Qt SQL driver ") + driver + QStringLiteral(" is not installed");
        return false;
    }
    const QFileInfo file(target.file);
    if (sqlite && !file.exists()) {
        *error = QStringLiteral("no results database (no run recorded yet)");
        return false;
    }
    if (sqlite && !file.isFile()) {
        *error = QStringLiteral("not a regular file");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, connection);
    if (sqlite) {
        db.setDatabaseName(target.file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=") +
                             QString::number(kBusyTimeoutMs));
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
        db.setConnectOptions(QStringLiteral("connect_timeout=") +
                             QString::number(kConnectTimeoutS) +
                             QStringLiteral(";options='-c default_transaction_read_only=on "
                                            "-c client_min_messages=warning'"));
    }
    if (!db.open()) {
        const QString why = db.lastError().text().trimmed();
        *error = why.isEmpty() ? QStringLiteral("unknown database error") : why;
        return false;
    }
    return true;
}

} // namespace ufd
