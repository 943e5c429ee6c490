// ufd-results serve as a client on the network meets it: requests without
// end, connections that never close, a Host of another site, a reader
// without the key, a database restored under it, and a query stuck in the
// database while another client asks for the page. Every case runs the real
// program over a real socket.
#include "support/test_common.h"

#include "http_client.h"
#include "results/results_store.h"
#include "support/pg_server.h"
#include "support/results_db.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace ufd {
namespace {

using test::Get;
using test::HttpAnswer;
using test::HttpClient;

DriveRecord Rec(const QString& serial, int status = 0) {
    return test::Rec("line-1", "1-1", serial, "2026-12-07T08:00:00.000Z", status);
}

bool Store(const DatabaseTarget& target, const std::vector<DriveRecord>& records) {
    QString error;
    const bool ok = ResultsStore(target).Store(records, &error);
    EXPECT_TRUE(ok) << error.toStdString();
    return ok;
}

// The serials /api/runs answers, newest first; empty when it did not answer 200.
QStringList Serials(const HttpAnswer& a) {
    QStringList out;
    for (const auto& r : QJsonDocument::fromJson(a.body)["runs"].toArray()) {
        out << r.toObject()["serial"].toString();
    }
    return out;
}

// One `ufd-results serve` over a station.conf of its own.
class Serve {
public:
    explicit Serve(const QString& database, QStringList args = {"--listen", "127.0.0.1:0"},
                   const QString& keyFile = {}) {
        const QString conf = dir_.filePath("station.conf");
        std::ofstream(conf.toStdString())
            << "[Results]\nDatabase=" << database.toStdString() << "\n"
            << (keyFile.isEmpty() ? "" : "[Serve]\nKeyFile=" + keyFile.toStdString() + "\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("UFD_STATION_CONF", conf);
        process_.setProcessEnvironment(env);
        process_.start(UFD_RESULTS_BIN, QStringList{"serve"} + args);
        process_.waitForReadyRead(60000);
        line = QString::fromUtf8(process_.readLine()).trimmed();
        // "Serving http://ADDR:PORT/[?key=K] from DB"
        const QString url = line.section(' ', 1, 1);
        port = quint16(url.section(':', 2).section('/', 0, 0).toUInt());
        key = url.section("?key=", 1).toUtf8();
    }
    ~Serve() {
        process_.terminate();
        process_.waitForFinished(10000);
    }
    // The exit code and stderr of a server that did not start.
    std::pair<int, QString> Refused() {
        process_.waitForFinished(10000);
        return {process_.exitCode(), QString::fromUtf8(process_.readAllStandardError())};
    }
    HttpAnswer Ask(const QByteArray& path, const QByteArray& extra = {}) {
        HttpClient c(port);
        c.Send(Get(path, port, extra));
        return c.Read();
    }

    QString line;
    quint16 port = 0;
    QByteArray key;

private:
    QTemporaryDir dir_;
    QProcess process_;
};

class Server : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Store(target, {Rec("A1"), Rec("A2", 0x10)})); }
    QTemporaryDir dir;
    DatabaseTarget target = ParseDatabaseSetting(dir.filePath("r.sqlite")).target;
};

// Each request beyond a limit is refused with its status and the connection
// closed; what the client keeps sending is not held by the server.
TEST_F(Server, ARequestBeyondItsLimitsIsRefusedAndItsConnectionClosed) {
    Serve serve(target.file);
    ASSERT_NE(serve.port, 0) << serve.line.toStdString();
    const QByteArray host = "Host: 127.0.0.1\r\n";
    QByteArray headers;
    for (int i = 0; i < 101; ++i) {
        headers += "X-" + QByteArray::number(i) + ": 1\r\n";
    }
    const struct {
        const char* what;
        QByteArray request;
        int status;
    } cases[] = {
        {"a line without end", QByteArray(4 << 20, 'A'), 414},
        {"a long path", "GET /" + QByteArray(5000, 'a') + " HTTP/1.1\r\n", 414},
        {"a header without end", "GET / HTTP/1.1\r\n" + host + "X: " + QByteArray(4 << 20, 'x'),
         431},
        {"too many headers", "GET / HTTP/1.1\r\n" + host + headers + "\r\n", 431},
        {"a body said too large", "GET / HTTP/1.1\r\n" + host + "Content-Length: 100000000\r\n\r\n",
         413},
        {"a body sent too large",
         "GET / HTTP/1.1\r\n" + host + "Content-Length: 70000\r\n\r\n" + QByteArray(70000, 'b'),
         413},
        {"a body of unknown length",
         "GET / HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n", 501},
        {"two lengths",
         "GET / HTTP/1.1\r\n" + host + "Content-Length: 1\r\nContent-Length: 2\r\n\r\n", 400},
        {"no Host in HTTP/1.1", "GET / HTTP/1.1\r\n\r\n", 400},
        {"two Hosts", "GET / HTTP/1.1\r\n" + host + host + "\r\n", 400},
        {"HTTP/2 in text", "GET / HTTP/2.0\r\n\r\n", 505},
        {"a header split by a blank", "GET / HTTP/1.1\r\n" + host + "X : 1\r\n\r\n", 400},
    };
    for (const auto& c : cases) {
        HttpClient client(serve.port);
        client.Send(c.request); // may fail part-way: the server stopped reading
        const HttpAnswer a = client.Read();
        EXPECT_EQ(a.status, c.status) << c.what;
        EXPECT_EQ(a.Header("connection"), "close") << c.what;
        EXPECT_TRUE(client.Closed(5000)) << c.what;
    }
    EXPECT_EQ(serve.Ask("/api/runs").status, 200) << "still answering";
}

// HTTP/1.1 keeps a connection for the next request; Connection: close and
// HTTP/1.0 (unless it asks for keep-alive) end it after the answer.
TEST_F(Server, AConnectionIsClosedWhenTheClientOrItsVersionSaysSo) {
    Serve serve(target.file);
    const QByteArray host = "Host: 127.0.0.1\r\n";
    const struct {
        QByteArray request;
        bool kept;
    } cases[] = {
        {"GET /api/runs HTTP/1.1\r\n" + host + "\r\n", true},
        {"GET /api/runs HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n", false},
        {"GET /api/runs HTTP/1.1\r\n" + host + "Connection: Keep-Alive, Close\r\n\r\n", false},
        {"GET /api/runs HTTP/1.0\r\n\r\n", false},
        {"GET /api/runs HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", true},
    };
    for (const auto& c : cases) {
        HttpClient client(serve.port);
        // Two requests in one write: a kept connection answers both.
        client.Send(c.request + c.request);
        EXPECT_EQ(client.Read().status, 200) << c.request.toStdString();
        const HttpAnswer second = client.Read();
        EXPECT_EQ(second.status, c.kept ? 200 : 0) << c.request.toStdString();
        EXPECT_EQ(client.Closed(1000), !c.kept) << c.request.toStdString();
    }
}

// An answer larger than the kernel takes at once arrives whole, and the
// connection then answers the next request.
TEST_F(Server, ALargeAnswerArrivesWholeOnAKeptConnection) {
    std::vector<DriveRecord> many;
    for (int i = 0; i < 600; ++i) {
        many.push_back(Rec(QString("M%1").arg(i)));
    }
    ASSERT_TRUE(Store(target, many));
    Serve serve(target.file);
    HttpClient client(serve.port);
    client.Send(Get("/api/runs?limit=500", serve.port) + Get("/api/runs?limit=500", serve.port));
    std::this_thread::sleep_for(500ms); // the kernel's buffers fill, the rest waits
    for (int i = 0; i < 2; ++i) {
        const HttpAnswer a = client.Read();
        EXPECT_GT(a.body.size(), 256 * 1024);
        EXPECT_EQ(Serials(a).size(), 500);
    }
}

// A connection that sends nothing, or half a request, is closed after the
// idle time (ten seconds), while one in use stays.
TEST_F(Server, AnIdleOrSlowConnectionIsClosedAfterTheIdleTime) {
    Serve serve(target.file);
    HttpClient idle(serve.port), half(serve.port), used(serve.port);
    half.Send("GET /api/runs HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 6; ++i) {
        used.Send(Get("/api/runs", serve.port));
        EXPECT_EQ(used.Read().status, 200);
        std::this_thread::sleep_for(2s);
    }
    EXPECT_TRUE(idle.Closed(5000)) << t.elapsed();
    EXPECT_TRUE(half.Closed(1000)) << t.elapsed();
    EXPECT_GE(t.elapsed(), 9000);
    EXPECT_FALSE(used.Closed(100));
}

// One address holds at most 32 connections: its oldest idle one makes room
// for a new one; when all are busy the new one is refused, and another
// address is answered all the same.
TEST_F(Server, OneClientAddressIsHeldToItsShareOfConnections) {
    Serve serve(target.file);
    std::vector<std::unique_ptr<HttpClient>> idle;
    for (int i = 0; i < 40; ++i) {
        idle.push_back(std::make_unique<HttpClient>(serve.port));
    }
    EXPECT_EQ(serve.Ask("/api/runs").status, 200) << "room made among idle connections";
    EXPECT_TRUE(idle.front()->Closed(2000)) << "the oldest idle one closed";
    idle.clear();

    std::vector<std::unique_ptr<HttpClient>> busy;
    for (int i = 0; i < 32; ++i) {
        busy.push_back(std::make_unique<HttpClient>(serve.port));
        busy.back()->Send("GET /api/runs HTTP/1.1\r\n");
    }
    std::this_thread::sleep_for(300ms);
    HttpClient more(serve.port);
    EXPECT_EQ(more.Read().status, 503);
    EXPECT_TRUE(more.Closed(2000));
    HttpClient other(serve.port, "127.0.0.2");
    ASSERT_TRUE(other.Connected());
    other.Send(Get("/api/runs", serve.port));
    EXPECT_EQ(other.Read().status, 200) << "another address is not held up";
}

// A Host that names another site (a name rebound to this address) is not
// answered; this server's addresses, localhost and --host-name are.
TEST_F(Server, OnlyAHostNamingThisServerIsAnswered) {
    Serve serve(target.file, {"--listen", "127.0.0.1:0", "--host-name", "Line-3.example"});
    const QByteArray port = QByteArray::number(serve.port);
    const struct {
        QByteArray host;
        int status;
    } cases[] = {
        {"127.0.0.1:" + port, 200},
        {"127.0.0.1", 200},
        {"LOCALHOST:" + port, 200},
        {"line-3.example:" + port, 200},
        {"line-3.example.", 200},
        {"attacker.example:" + port, 421},
        {"127.0.0.1:1" + port, 421},
        {"127.0.0.1.attacker.example", 421},
        {"", 400},
    };
    for (const auto& c : cases) {
        HttpClient client(serve.port);
        client.Send("GET /api/runs HTTP/1.1\r\nHost: " + c.host + "\r\n\r\n");
        EXPECT_EQ(client.Read().status, c.status) << c.host.toStdString();
    }
}

// Beyond loopback the records are read only with the key: once in the URL
// the server printed, then as a cookie the page's scripts cannot read.
TEST_F(Server, AnotherAddressThanLoopbackAsksForTheKey) {
    const QString keyFile = dir.filePath("serve.key");
    ASSERT_TRUE(std::ofstream(keyFile.toStdString()) << "0123456789abcdef0123\n");
    {
        Serve serve(target.file, {"--listen", "0.0.0.0:0"}, keyFile);
        ASSERT_EQ(serve.key, "0123456789abcdef0123") << serve.line.toStdString();
        const QByteArray cookie = "Cookie: other=1; ufd-key-" + QByteArray::number(serve.port);
        const struct {
            QByteArray path, extra;
            int status;
        } cases[] = {
            {"/api/runs", "", 401},
            {"/", "", 401},
            {"/?key=0123456789abcdef0124", "", 401},
            {"/api/runs", cookie + "=0123456789abcdef0124\r\n", 401},
            {"/api/runs", cookie + "=0123456789abcdef0123\r\n", 200},
            {"/", cookie + "=0123456789abcdef0123\r\n", 200},
        };
        for (const auto& c : cases) {
            EXPECT_EQ(serve.Ask(c.path, c.extra).status, c.status)
                << c.path.toStdString() << " " << c.extra.toStdString();
        }
        const HttpAnswer welcome = serve.Ask("/?key=0123456789abcdef0123");
        EXPECT_EQ(welcome.status, 303);
        EXPECT_EQ(welcome.Header("location"), "/");
        EXPECT_EQ(welcome.Header("set-cookie"),
                  "ufd-key-" + QByteArray::number(serve.port) +
                      "=0123456789abcdef0123; Path=/; HttpOnly; SameSite=Strict");
    }
    Serve without(target.file, {"--listen", "0.0.0.0:0"});
    const auto [code, message] = without.Refused();
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(message.contains("[Serve] KeyFile") && message.contains("--open"))
        << message.toStdString();
    Serve open(target.file, {"--listen", "0.0.0.0:0", "--open"});
    EXPECT_EQ(open.Ask("/api/runs").status, 200) << open.line.toStdString();
    ASSERT_TRUE(std::ofstream(keyFile.toStdString()) << "abc");
    Serve weak(target.file, {"--listen", "0.0.0.0:0"}, keyFile);
    EXPECT_EQ(weak.Refused().first, 1);
}

// A restore moves a new file over the database: the server reads the new
// one, says the records are unavailable while they cannot be read (an old
// -wal left beside it, the file gone) and reads them again once they can.
TEST_F(Server, ADatabaseReplacedUnderTheServerIsReadAgain) {
    Serve serve(target.file);
    EXPECT_EQ(Serials(serve.Ask("/api/runs")), (QStringList{"A2", "A1"}));
    const auto restore = [&](const QString& serial) {
        const DatabaseTarget fresh = ParseDatabaseSetting(dir.filePath("new.sqlite")).target;
        Store(fresh, {Rec(serial)});
        return ::rename(qPrintable(fresh.file), qPrintable(target.file)) == 0;
    };
    ASSERT_TRUE(restore("B1"));
    EXPECT_EQ(Serials(serve.Ask("/api/runs")), (QStringList{"B1"}));
    EXPECT_EQ(QJsonDocument::fromJson(serve.Ask("/api/yield?by=station").body)["rows"][0]["units"],
              1);

    // A writer still open keeps its -wal beside the file restored over it.
    {
        QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
        writer.setDatabaseName(target.file);
        ASSERT_TRUE(writer.open());
        QSqlQuery(writer).exec("PRAGMA journal_mode=WAL");
        QSqlQuery(writer).exec("PRAGMA wal_autocheckpoint=0");
        ASSERT_TRUE(Store(target, {Rec("B2")}));
        ASSERT_TRUE(QFile::exists(target.file + "-wal"));
        ASSERT_TRUE(restore("C1"));
        const HttpAnswer stale = serve.Ask("/api/runs");
        EXPECT_EQ(stale.status, 503) << "the old -wal's records: " << stale.body.toStdString();
        EXPECT_TRUE(QJsonDocument::fromJson(stale.body)["error"].toString().contains("-wal"));
        EXPECT_EQ(serve.Ask("/api/yield").status, 503);
        writer.close();
    }
    QSqlDatabase::removeDatabase("writer");
    QFile::remove(target.file + "-wal");
    QFile::remove(target.file + "-shm");
    EXPECT_EQ(Serials(serve.Ask("/api/runs")), (QStringList{"C1"}));

    ASSERT_TRUE(QFile::rename(target.file, target.file + ".away"));
    const HttpAnswer gone = serve.Ask("/api/runs");
    EXPECT_EQ(gone.status, 503);
    EXPECT_FALSE(QJsonDocument::fromJson(gone.body)["error"].toString().isEmpty());
    ASSERT_TRUE(QFile::rename(target.file + ".away", target.file));
    EXPECT_EQ(Serials(serve.Ask("/api/runs")), (QStringList{"C1"}));
}

// The page as a headless browser leaves it after its first poll: the status
// line's text. Empty when there is no browser.
QString PageStatus(quint16 port) {
    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty()) {
        return {};
    }
    QProcess browser;
    browser.start(chromium,
                  {"--headless=new", "--no-sandbox", "--disable-gpu", "--virtual-time-budget=4000",
                   "--dump-dom", QString("http://127.0.0.1:%1/").arg(port)});
    browser.waitForFinished(60000);
    const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
    const qsizetype at = dom.indexOf("id=\"status\">");
    return at < 0 ? "no status in the page" : dom.mid(at + 12).section('<', 0, 0);
}

// The page tells records it cannot read from records it shows: never an
// "updated" time over records that are gone.
TEST_F(Server, ThePageSaysRecordsUnavailableInsteadOfAnUpdateTime) {
    Serve serve(target.file);
    const QString fresh = PageStatus(serve.port);
    if (fresh.isEmpty()) {
        GTEST_SKIP() << "no chromium (Debian package chromium)";
    }
    EXPECT_TRUE(fresh.startsWith("updated ")) << fresh.toStdString();
    ASSERT_TRUE(QFile::rename(target.file, target.file + ".away"));
    const QString gone = PageStatus(serve.port);
    EXPECT_TRUE(gone.startsWith("records unavailable: ")) << gone.toStdString();
}

// The request's fault is a 400, the records' a 503, whatever the words of
// the reason: a grouping an older station's records cannot give, a bad
// parameter, records that cannot be read.
TEST_F(Server, TheStatusSaysWhoseFaultItIs) {
    ASSERT_TRUE(test::Sql(target, {"ALTER TABLE drive_records DROP COLUMN lot",
                                   "ALTER TABLE drive_records DROP COLUMN operator"}));
    Serve serve(target.file);
    const struct {
        QByteArray path;
        int status;
    } cases[] = {
        {"/api/yield?by=lot", 400},
        {"/api/yield?by=operator", 400},
        {"/api/yield?by=week", 400},
        {"/api/runs?limit=501", 400},
        {"/api/yield?by=station", 200},
        {"/api/pareto", 200},
        {"/nothing", 404},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(serve.Ask(c.path).status, c.status) << c.path.toStdString();
    }
    ASSERT_TRUE(std::ofstream(dir.filePath("garbage").toStdString()) << std::string(8192, 'x'));
    ASSERT_TRUE(::rename(qPrintable(dir.filePath("garbage")), qPrintable(target.file)) == 0);
    for (const QByteArray path : {"/api/yield?by=lot", "/api/runs", "/api/pareto"}) {
        EXPECT_EQ(serve.Ask(path).status, 503) << path.toStdString();
    }
}

// One request held in a slow query (a table locked by a session that
// sleeps): another client gets the page and a refusal at once, and the held
// request its answer once the lock is gone.
TEST(SlowQuery, AnotherClientIsAnsweredWhileAQueryWaits) {
    test::PgServer pg;
    UFD_SKIP_WITHOUT(pg);
    QString error;
    const DatabaseTarget target = pg.NewDatabase("line", &error).value();
    ASSERT_TRUE(Store(target, {Rec("P1")}));
    Serve serve(QString("postgresql://ufd@127.0.0.1:%1/line").arg(target.port));
    ASSERT_NE(serve.port, 0) << serve.line.toStdString();

    QProcess sleeper;
    sleeper.start("psql", {"-h", "127.0.0.1", "-p", QString::number(target.port), "-U", "ufd", "-d",
                           "line", "-c",
                           "BEGIN; LOCK TABLE drive_records IN ACCESS EXCLUSIVE MODE; "
                           "SELECT pg_sleep(3); COMMIT;"});
    std::this_thread::sleep_for(700ms); // the lock taken
    QElapsedTimer held;
    held.start();
    HttpClient stuck(serve.port);
    stuck.Send(Get("/api/runs", serve.port));
    std::this_thread::sleep_for(200ms);
    for (const QByteArray path : {"/", "/page.js", "/api/runs?limit=0"}) {
        QElapsedTimer t;
        t.start();
        const int status = serve.Ask(path).status;
        EXPECT_EQ(status, path.contains("limit") ? 400 : 200) << path.toStdString();
        EXPECT_LT(t.elapsed(), 500) << path.toStdString();
    }
    const HttpAnswer late = stuck.Read(15000);
    EXPECT_EQ(Serials(late), QStringList{"P1"});
    EXPECT_GE(held.elapsed(), 1500) << "the query really waited for the lock";
    sleeper.waitForFinished(15000);
}

} // namespace
} // namespace ufd

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
