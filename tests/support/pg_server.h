// A PostgreSQL server of its own for a test or benchmark program: initdb and
// pg_ctl in a temporary directory, run as nobody when the program runs as
// root (the server refuses root). skip says why there is none.
#pragma once

#include "results/database_target.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

namespace ufd::test {

class PgServer {
public:
    // durable: the server syncs to disk as in production (benchmarks); tests
    // run without.
    explicit PgServer(bool durable = false) : durable_(durable) {
        const QStringList found =
            QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString& v : found) {
            if (QFile::exists("/usr/lib/postgresql/" + v + "/bin/initdb")) {
                bin_ = "/usr/lib/postgresql/" + v + "/bin/";
            }
        }
        if (bin_.isEmpty()) {
            skip = "no PostgreSQL server installed (Debian package postgresql)";
            return;
        }
        if (!QSqlDatabase::isDriverAvailable("QPSQL")) {
            skip = "Qt's PostgreSQL driver is missing (Debian package libqt6sql6-psql)";
            return;
        }
        if (::geteuid() == 0) {
            // The server refuses to run as root: it runs as nobody, who must
            // own the directory.
            const passwd* pw = ::getpwnam("nobody");
            if (pw == nullptr || QStandardPaths::findExecutable("runuser").isEmpty() ||
                ::chown(QFile::encodeName(dir_.path()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
                skip = "running as root, and no user nobody to run the server as";
                return;
            }
            asOther_ = true;
        }
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port_ = probe.serverPort();
        probe.close();
        if (!Run("initdb", {"-D", data(), "-U", "ufd", "-A", "trust", "-E", "UTF8", "--no-sync"})) {
            skip = "initdb failed: " + output_;
            return;
        }
        if (!Start()) {
            skip = "the server did not start: " + output_;
        }
    }
    ~PgServer() { Stop(); }

    bool Start() {
        return Run("pg_ctl", {"-D", data(), "-l", dir_.filePath("log"), "-w", "-t", "60", "-o",
                              QString("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=%3")
                                  .arg(port_)
                                  .arg(dir_.path(), durable_ ? "on" : "off"),
                              "start"});
    }
    bool Stop() { return Run("pg_ctl", {"-D", data(), "-m", "fast", "-w", "stop"}); }

    // A fresh database of its own for each user.
    std::optional<DatabaseTarget> NewDatabase(const QString& name, QString* error) {
        bool made = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "admin");
            db.setHostName("127.0.0.1");
            db.setPort(port_);
            db.setUserName("ufd");
            db.setDatabaseName("postgres");
            QSqlQuery q(db);
            made = db.open() && q.exec("CREATE DATABASE " + name);
            *error = q.lastError().text() + db.lastError().text();
            db.close();
        }
        QSqlDatabase::removeDatabase("admin");
        if (!made) {
            return std::nullopt;
        }
        return DatabaseTarget{
            DatabaseTarget::Kind::Postgres, {}, "127.0.0.1", name, "ufd", {}, {}, port_};
    }

    QString skip;

private:
    QString data() const { return dir_.filePath("data"); }
    bool Run(const QString& tool, QStringList args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (asOther_) {
            args.prepend(bin_ + tool);
            args = QStringList{"-u", "nobody", "--"} + args;
            p.start("runuser", args);
        } else {
            p.start(bin_ + tool, args);
        }
        const bool ok = p.waitForFinished(120000) && p.exitCode() == 0;
        output_ = QString::fromLocal8Bit(p.readAll()).trimmed();
        return ok;
    }

    QTemporaryDir dir_;
    QString bin_;
    bool durable_ = false;
    bool asOther_ = false;
    int port_ = 0;
    QString output_;
};

} // namespace ufd::test
