// The supervisor's figures over 1,000,000 records, SQLite and PostgreSQL:
// /api/yield and /api/pareto answered by a running ufd-results serve right
// after a new record arrives (the path a live page takes: the server's index
// brought up to date, then the figures), for a filter it has not answered
// before, and kept; side by side with the bare SQL aggregate of the same
// figures (and, for scale, a plain count per station), all in this run; then
// the server's resident memory with the index loaded and over 10,000
// requests. The bare aggregates again with an index made for them show what
// SQL alone could reach. The records are made by the database itself in one statement,
// not by the station.
#include "results/results_store.h"
#include "support/pg_server.h"

#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>

namespace {

// UFD_BENCH_RECORDS: another number of records, for a machine that cannot
// spare the time of a million.
const int kRecords = [] {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("UFD_BENCH_RECORDS", &ok);
    return ok && n >= 1600 ? n : 1000000;
}();

// 62,500 runs of 16 on 8 stations, five seconds apart up to now (the last
// day holds a day's records, as on a line); one record in ten is a drive's
// retest; about 5% fail with one of four codes.
QString Fill(bool sqlite) {
    const QString first =
        QString::number(QDateTime::currentSecsSinceEpoch() - qint64(kRecords) * 5);
    const QString started = sqlite ? QStringLiteral("strftime('%Y-%m-%dT%H:%M:%S.000Z', ") + first +
                                         QStringLiteral(" + i * 5, 'unixepoch')")
                                   : QStringLiteral("to_char(to_timestamp(") + first +
                                         QStringLiteral(" + i * 5) AT TIME ZONE 'UTC', "
                                                        "'YYYY-MM-DD\"T\"HH24:MI:SS.\"000Z\"')");
    const QString status =
        QStringLiteral("(CASE ((i % 1000) * 7919) % 100 WHEN 0 THEN 16 WHEN 1 THEN 16 "
                       "WHEN 2 THEN 240 WHEN 3 THEN 244 WHEN 4 THEN 245 ELSE 0 "
                       "END)");
    QString sql = QStringLiteral(
        "INSERT INTO drive_records (run_id, slot, station_id, started_utc, ended_utc, vid, pid, "
        "usb_product, port_path, serial, status, passed, format_status, format_ms) SELECT 'run-' "
        "|| (i / 16), i % 16 + 1, 'line-' || ((i / 16) % 8), @T, @T, '1234', '5678', 'Flash', "
        "'1-' "
        "|| (i % 16 + 1), 'S' || (CASE WHEN i % 10 = 9 AND i >= 160 THEN i - 160 ELSE i END), "
        "@S, CASE WHEN @S = 0 THEN 1 ELSE 0 END, @S, 1000 FROM ");
    sql.replace(QStringLiteral("@T"), started).replace(QStringLiteral("@S"), status);
    sql += sqlite ? QStringLiteral("(WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 "
                                   "FROM n WHERE i < %1) SELECT i FROM n) AS n")
                        .arg(kRecords - 1)
                  : QStringLiteral("generate_series(0, %1) AS i").arg(kRecords - 1);
    return sql;
}

const char* kBareYield =
    "SELECT station_id, COUNT(*), SUM(passed), SUM(final_passed) FROM (SELECT station_id, "
    "passed, ROW_NUMBER() OVER w AS n, LAST_VALUE(passed) OVER (w ROWS BETWEEN UNBOUNDED "
    "PRECEDING AND UNBOUNDED FOLLOWING) AS final_passed FROM drive_records WHERE format_status "
    "IS NOT NULL WINDOW w AS (PARTITION BY serial ORDER BY started_utc, run_id, slot)) AS x "
    "WHERE n = 1 GROUP BY station_id ORDER BY station_id";
const char* kBarePareto =
    "SELECT status, COUNT(*) AS c FROM (SELECT status, passed, ROW_NUMBER() OVER (PARTITION BY "
    "serial ORDER BY started_utc, run_id, slot) AS n FROM drive_records WHERE format_status IS "
    "NOT NULL) AS x WHERE n = 1 AND passed = 0 GROUP BY status ORDER BY c DESC, status";
// What an index for the figures would give SQL: each drive's Format runs in
// the order the window functions read them, so no sort is left to do.
const char* kUnitIndex =
    "CREATE INDEX IF NOT EXISTS bench_unit_order ON drive_records (serial, started_utc, run_id, "
    "slot, passed, station_id, status) WHERE format_status IS NOT NULL";
const char* kPlainCount =
    "SELECT station_id, COUNT(*), SUM(passed) FROM drive_records GROUP BY station_id";

// One database with the million records and a server over it.
struct Line {
    QTemporaryDir dir;
    std::unique_ptr<ufd::test::PgServer> pg;
    ufd::DatabaseTarget target;
    QProcess server;
    quint16 port = 0;
    QString skip;
    QTcpSocket socket_;
    QString error_;
    QString connection; // the bench's own, for filling and the bare SQL
    long rssLoaded = 0; // the server's, its index read
    int arrived = 0;    // records stored while the server runs

    explicit Line(bool sqlite)
        : connection(sqlite ? QStringLiteral("bare-sqlite") : QStringLiteral("bare-postgres")) {
        if (sqlite) {
            target = ufd::ParseDatabaseSetting(dir.filePath(QStringLiteral("r.sqlite"))).target;
        } else {
            pg = std::make_unique<ufd::test::PgServer>();
            QString error;
            if (!pg->skip.isEmpty()) {
                skip = pg->skip;
                return;
            }
            target = pg->NewDatabase(QStringLiteral("line"), &error).value();
        }
        QString error;
        ufd::ResultsStore store(target);
        if (!store.Open(&error) || !Exec(Fill(sqlite)) ||
            !Exec(sqlite ? QStringLiteral("ANALYZE") : QStringLiteral("VACUUM ANALYZE"))) {
            skip = QStringLiteral("could not fill the database: ") + error + error_;
            return;
        }
        QFile conf(dir.filePath(QStringLiteral("station.conf")));
        conf.open(QIODevice::WriteOnly);
        conf.write(
            "[Results]\nDatabase=" +
            (sqlite
                 ? target.file.toUtf8()
                 : QStringLiteral("postgresql://ufd@127.0.0.1:%1/line").arg(target.port).toUtf8()) +
            "\n");
        conf.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("UFD_STATION_CONF"), conf.fileName());
        server.setProcessEnvironment(env);
        server.start(
            QStringLiteral(UFD_BIN_DIR "/ufd-results"),
            {QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
        // The server reads the records into its index before it listens.
        server.waitForReadyRead(600000);
        rssLoaded = RssKb();
        const QByteArray line = server.readLine();
        // "Serving http://127.0.0.1:PORT/ from ..."
        port = static_cast<quint16>(
            QString::fromUtf8(line).section(u' ', 1, 1).section(u':', 2).chopped(1).toUInt());
        if (port == 0) {
            skip = QStringLiteral("serve did not start: ") + QString::fromUtf8(line);
        }
    }
    ~Line() {
        server.terminate();
        server.waitForFinished(10000);
    }
    bool Exec(const QString& sql) {
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        if (!db.isValid()) {
            db = QSqlDatabase::addDatabase(target.kind == ufd::DatabaseTarget::Kind::Sqlite
                                               ? QStringLiteral("QSQLITE")
                                               : QStringLiteral("QPSQL"),
                                           connection);
            db.setDatabaseName(target.kind == ufd::DatabaseTarget::Kind::Sqlite ? target.file
                                                                                : target.database);
            db.setHostName(target.host);
            db.setPort(target.port);
            db.setUserName(target.user);
        }
        QSqlQuery q(db);
        if (!db.open() || !q.exec(sql)) {
            error_ = db.isOpen() ? q.lastError().text() : db.lastError().text();
            return false;
        }
        return true;
    }
    // One more record, started now, as a station stores it while the page polls.
    bool Arrive() {
        ++arrived;
        const QString started =
            QDateTime::currentDateTimeUtc().addMSecs(arrived).toString(Qt::ISODateWithMs);
        return Exec(QStringLiteral("INSERT INTO drive_records (run_id, slot, station_id, "
                                   "started_utc, ended_utc, vid, pid, usb_product, port_path, "
                                   "serial, status, passed, format_status, format_ms) VALUES "
                                   "('live-%1', 1, 'line-%2', '%3', '%3', '1234', '5678', "
                                   "'Flash', '1-1', 'L%1', 0, 1, 0, 1000)")
                        .arg(arrived)
                        .arg(arrived % 8)
                        .arg(started));
    }
    // The body of one GET on a connection kept open between requests, as a
    // browser does; empty on failure.
    QByteArray Get(const QByteArray& path) {
        if (socket_.state() != QAbstractSocket::ConnectedState) {
            socket_.connectToHost(QStringLiteral("127.0.0.1"), port);
            if (!socket_.waitForConnected(5000)) {
                return {};
            }
        }
        socket_.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray all;
        qsizetype end = -1, length = -1;
        while (socket_.waitForReadyRead(30000)) {
            all += socket_.readAll();
            end = end < 0 ? all.indexOf("\r\n\r\n") : end;
            if (end >= 0 && length < 0) {
                const qsizetype at = all.toLower().indexOf("content-length:");
                length =
                    at < 0
                        ? 0
                        : all.mid(at + 15, all.indexOf('\r', at) - at - 15).trimmed().toLongLong();
            }
            if (end >= 0 && all.size() >= end + 4 + length) {
                break;
            }
        }
        return all.startsWith("HTTP/1.1 200") ? all.mid(end + 4) : QByteArray();
    }
    long RssKb() const {
        QFile f(QStringLiteral("/proc/%1/status").arg(server.processId()));
        f.open(QIODevice::ReadOnly);
        for (const QByteArray& l : f.readAll().split('\n')) {
            if (l.startsWith("VmRSS:")) {
                return l.mid(6).trimmed().split(' ').first().toLong();
            }
        }
        return 0;
    }
};

Line& Of(bool sqlite) {
    static std::unique_ptr<Line> lines[2];
    auto& l = lines[sqlite ? 0 : 1];
    if (!l) {
        l = std::make_unique<Line>(sqlite);
    }
    return *l;
}

void Bare(benchmark::State& state, bool sqlite, const char* sql) {
    Line& l = Of(sqlite);
    if (!l.skip.isEmpty()) {
        state.SkipWithError(qPrintable(l.skip));
        return;
    }
    QSqlDatabase db = QSqlDatabase::database(l.connection);
    for (auto _ : state) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.exec(QString::fromLatin1(sql));
        int rows = 0;
        while (q.next()) {
            ++rows;
        }
        benchmark::DoNotOptimize(rows);
    }
}

// The bare aggregate again with kUnitIndex in place (made before the clock
// runs, and left for the requests that follow).
void BareIndexed(benchmark::State& state, bool sqlite, const char* sql) {
    Line& l = Of(sqlite);
    if (l.skip.isEmpty() && !l.Exec(QString::fromLatin1(kUnitIndex))) {
        state.SkipWithError(qPrintable(l.error_));
        return;
    }
    Bare(state, sqlite, sql);
}

// cold: every request with a since of its own (all records are later), so
// no kept answer serves it and the figures are computed afresh (no record
// arrives meanwhile); warm: the same request again.
void Api(benchmark::State& state, bool sqlite, const char* path, bool cold) {
    Line& l = Of(sqlite);
    if (!l.skip.isEmpty()) {
        state.SkipWithError(qPrintable(l.skip));
        return;
    }
    static int n = 0;
    if (!cold && l.Get(path).isEmpty()) { // the answer to keep, made before the clock runs
        state.SkipWithError("the request failed");
        return;
    }
    for (auto _ : state) {
        ++n;
        const QByteArray since = QStringLiteral("since=2020-01-01T%1:%2:00")
                                     .arg(n / 60 % 24, 2, 10, QLatin1Char('0'))
                                     .arg(n % 60, 2, 10, QLatin1Char('0'))
                                     .toLatin1();
        const QByteArray p(path);
        if (l.Get(cold ? p + (p.contains('?') ? '&' : '?') + since : p).isEmpty()) {
            state.SkipWithError("the request failed");
            return;
        }
    }
}

// What a live page waits for: a record arrives (not timed), then the figures.
void ApiLive(benchmark::State& state, bool sqlite, const char* path) {
    Line& l = Of(sqlite);
    if (!l.skip.isEmpty()) {
        state.SkipWithError(qPrintable(l.skip));
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        const bool stored = l.Arrive();
        state.ResumeTiming();
        if (!stored || l.Get(path).isEmpty()) {
            state.SkipWithError("the request failed");
            return;
        }
    }
}

// 30,000 requests of the kinds a page makes, the figures among them (a record
// arriving every 100): the resident memory with the index loaded, after the
// first 1,000, after 10,000 and after all (what still grows between the last
// two is a leak, not a cache filling).
void ServerMemory(benchmark::State& state, bool sqlite) {
    Line& l = Of(sqlite);
    if (!l.skip.isEmpty()) {
        state.SkipWithError(qPrintable(l.skip));
        return;
    }
    const QByteArray paths[] = {"/api/runs?limit=50", "/",           "/page.js",
                                "/api/yield?by=nope", "/api/pareto", "/api/yield?by=socket"};
    for (auto _ : state) {
        long after1000 = 0, after10000 = 0;
        for (int i = 0; i < 30000; ++i) {
            if (i % 100 == 0) {
                l.Arrive();
            }
            l.Get(paths[i % 6]);
            after1000 = i == 999 ? l.RssKb() : after1000;
            after10000 = i == 9999 ? l.RssKb() : after10000;
        }
        state.counters["rss_index_loaded_kb"] = double(l.rssLoaded);
        state.counters["rss_after_1000_kb"] = double(after1000);
        state.counters["rss_after_10000_kb"] = double(after10000);
        state.counters["rss_after_30000_kb"] = double(l.RssKb());
    }
}

#define UFD_BENCH(name, fn, ...)                                                                   \
    BENCHMARK_CAPTURE(fn, name, __VA_ARGS__)->Unit(benchmark::kMillisecond)->MinTime(2.0)

UFD_BENCH(SqliteBareYield, Bare, true, kBareYield);
UFD_BENCH(SqliteApiYield, Api, true, "/api/yield?by=station", true);
UFD_BENCH(SqliteApiYieldKept, Api, true, "/api/yield?by=station", false);
UFD_BENCH(SqliteApiYieldLive, ApiLive, true, "/api/yield?by=station");
UFD_BENCH(SqliteBarePareto, Bare, true, kBarePareto);
UFD_BENCH(SqliteApiPareto, Api, true, "/api/pareto", true);
UFD_BENCH(SqliteApiParetoLive, ApiLive, true, "/api/pareto");
UFD_BENCH(SqlitePlainCount, Bare, true, kPlainCount);
UFD_BENCH(SqliteBareYieldIndexed, BareIndexed, true, kBareYield);
UFD_BENCH(SqliteBareParetoIndexed, BareIndexed, true, kBarePareto);
BENCHMARK_CAPTURE(ServerMemory, Sqlite, true)->Unit(benchmark::kMillisecond)->Iterations(1);
UFD_BENCH(PostgresBareYield, Bare, false, kBareYield);
UFD_BENCH(PostgresApiYield, Api, false, "/api/yield?by=station", true);
UFD_BENCH(PostgresApiYieldKept, Api, false, "/api/yield?by=station", false);
UFD_BENCH(PostgresApiYieldLive, ApiLive, false, "/api/yield?by=station");
UFD_BENCH(PostgresBarePareto, Bare, false, kBarePareto);
UFD_BENCH(PostgresApiPareto, Api, false, "/api/pareto", true);
UFD_BENCH(PostgresApiParetoLive, ApiLive, false, "/api/pareto");
UFD_BENCH(PostgresPlainCount, Bare, false, kPlainCount);
UFD_BENCH(PostgresBareYieldIndexed, BareIndexed, false, kBareYield);
UFD_BENCH(PostgresBareParetoIndexed, BareIndexed, false, kBarePareto);
BENCHMARK_CAPTURE(ServerMemory, Postgres, false)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
