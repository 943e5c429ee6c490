// A PostgreSQL server of its own for a test or benchmark program: initdb and
// pg_ctl in a temporary directory, run as nobody when the program runs as
// root (the server refuses root). skip says why there is none.
#pragma once

#include "results/database_target.h"
#include "support/test_common.h"

#include <QDir>
#include <QHostAddress>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError> // for the callers, which query the server themselves
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

#include <pwd.h>

namespace ufd::test {

class PgServer {
public:
    // durable: the server syncs to disk as in production (benchmarks); tests
    // run without.
    explicit PgServer(bool durable = false) : durable_(durable) {
        const QDir versions("/usr/lib/postgresql");
        for (const QString& v : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            const QString bin = versions.filePath(v + "/bin/");
            bin_ = QFile::exists(bin + "initdb") ? bin : bin_;
        }
        // The server refuses root: it then runs as nobody, who must own the directory.
        const passwd* pw = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
        asOther_ = pw != nullptr;
        QTcpServer probe; // a free port, given back at once for the server to take
        port_ = probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
        probe.close();
        skip =
            bin_.isEmpty() ? "no PostgreSQL server installed (Debian package postgresql)"
            : !QSqlDatabase::isDriverAvailable("QPSQL")
                ? "Qt's PostgreSQL driver is missing (Debian package libqt6sql6-psql)"
            : ::geteuid() == 0 &&
                    (!asOther_ || QStandardPaths::findExecutable("runuser").isEmpty() ||
                     ::chown(dir_.path().toLocal8Bit().constData(), pw->pw_uid, pw->pw_gid) != 0)
                ? "running as root, and no user nobody to run the server as"
            : !Run("initdb", {"-D", data(), "-U", "ufd", "-A", "trust", "-E", "UTF8", "--no-sync"})
                ? "initdb failed: " + output_
            : !Start() ? "the server did not start: " + output_
                       : "";
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
        const bool made =
            Run("createdb", {"-h", "127.0.0.1", "-p", QString::number(port_), "-U", "ufd", name});
        *error = output_;
        const DatabaseTarget target{
            DatabaseTarget::Kind::Postgres, "", "127.0.0.1", name, "ufd", "", "", port_};
        return made ? std::optional(target) : std::nullopt;
    }

    QString skip;

private:
    QString data() const { return dir_.filePath("data"); }
    bool Run(const QString& tool, const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(asOther_ ? "runuser" : bin_ + tool,
                asOther_ ? QStringList{"-u", "nobody", "--", bin_ + tool} + args : args);
        const bool ok = p.waitForFinished(120000) && p.exitCode() == 0;
        output_ = QString::fromLocal8Bit(p.readAll()).trimmed();
        return ok;
    }

    QTemporaryDir dir_;
    QString bin_, output_;
    bool durable_ = false, asOther_ = false;
    int port_ = 0;
};

} // namespace ufd::test

// Skips the test, saying why, when the PostgreSQL server it made is not there.
#define UFD_SKIP_WITHOUT(server)                                                                   \
    do {                                                                                           \
        if (!(server).skip.isEmpty()) {                                                            \
            GTEST_SKIP() << (server).skip.toStdString();                                           \
        }                                                                                          \
    } while (false)
