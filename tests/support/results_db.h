// What the results tests do to a database besides storing through the
// station: a plain record of one run, and SQL run on the database directly,
// as an older station, a restore or an administrator would leave it.
#pragma once

#include "results/database_target.h"
#include "results/drive_record.h"
#include "support/test_common.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace ufd::test {

// One record of a run of its own: station, port, serial, start, status (0:
// passed), Format ticked (else the write-protect check alone).
inline DriveRecord Rec(const QString& station, const QString& port, const QString& serial,
                       const QString& started, int status, bool format = true) {
    static int run = 0;
    DriveRecord r;
    r.RunId = QStringLiteral("run-%1").arg(++run);
    r.Slot = 1;
    r.StationId = station;
    r.StartedUtc = started;
    r.Vid = "1234";
    r.Pid = "5678";
    r.UsbProduct = "Flash";
    r.PortPath = port;
    r.Serial = serial;
    r.Status = status;
    r.Passed = status == 0;
    r.Items[format ? 0 : 3] = ItemResult{"", "", status, 1};
    return r;
}

// Runs each statement on target over a connection of its own, as its owner;
// stops at the first that fails, failing the test with the database's reason.
inline bool Sql(const DatabaseTarget& target, const QStringList& statements) {
    bool ok = false;
    {
        const bool pg = target.kind == DatabaseTarget::Kind::Postgres;
        QSqlDatabase db = QSqlDatabase::addDatabase(pg ? "QPSQL" : "QSQLITE", "test-sql");
        db.setDatabaseName(pg ? target.database : target.file);
        db.setHostName(target.host);
        db.setPort(target.port);
        db.setUserName(target.user);
        ok = db.open();
        EXPECT_TRUE(ok) << db.lastError().text().toStdString();
        for (auto s = statements.begin(); ok && s != statements.end(); ++s) {
            QSqlQuery q(db);
            ok = q.exec(*s);
            EXPECT_TRUE(ok) << s->toStdString() << ": " << q.lastError().text().toStdString();
        }
    }
    QSqlDatabase::removeDatabase("test-sql");
    return ok;
}

} // namespace ufd::test
