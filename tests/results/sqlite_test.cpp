// The SQLite store through Qt's real driver, the journal and the writer.
#include "records.h"
#include "results/export.h"
#include "results/journal.h"
#include "results/results_store.h"
#include "results/results_writer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace ufd {
namespace {

using test::MakeRun;
using test::ReadAll;

DatabaseTarget SqliteAt(const QString& file) {
    DatabaseTarget t;
    t.file = file;
    return t;
}

class Sqlite : public ::testing::Test {
protected:
    QTemporaryDir dir;
    DatabaseTarget target = SqliteAt(dir.filePath("db/results.sqlite"));
    QString journal = dir.filePath("journal.jsonl");
};

TEST_F(Sqlite, StoresEveryColumnAndEachRecordOnce) {
    const auto run = MakeRun("run-a", 4);
    ResultsStore store(target);
    QString error;
    ASSERT_TRUE(store.Store(run, &error)) << error.toStdString();
    // A replay of what is there already adds nothing.
    ASSERT_TRUE(store.Store(run, &error)) << error.toStdString();
    EXPECT_EQ(store.SchemaVersion(&error), kSchemaVersion);
    EXPECT_EQ(ReadAll(target), run);

    ASSERT_TRUE(store.Store(MakeRun("run-b", 2, "line-2"), &error));
    struct Case {
        RecordFilter filter;
        size_t count;
    };
    const Case cases[] = {
        {{"", "line-2", ""}, 2},    {{"2026-12-07", "", ""}, 6},    {{"2026-12-08", "", ""}, 0},
        {{"", "", "1234:5678"}, 6}, {{"", "", "Flash \"Pro\""}, 6}, {{"", "", "1234:9999"}, 0},
    };
    for (const Case& c : cases) {
        auto got = store.Read(c.filter, &error);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->size(), c.count)
            << c.filter.station.toStdString() << c.filter.since.toStdString()
            << c.filter.product.toStdString();
    }
}

TEST_F(Sqlite, RefusesADatabaseOfANewerSchema) {
    {
        ResultsStore store(target);
        QString error;
        ASSERT_TRUE(store.Open(&error));
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "newer");
        db.setDatabaseName(target.file);
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(QSqlQuery(db).exec("UPDATE schema_version SET version = 99"));
        db.close();
    }
    QSqlDatabase::removeDatabase("newer");
    ResultsStore store(target);
    QString error;
    EXPECT_FALSE(store.Store(MakeRun("run-a", 1), &error));
    EXPECT_TRUE(error.contains("schema version 99")) << error.toStdString();
}

// Nothing lost: what the database refuses waits in the journal; a later
// writer brings it in exactly once, even when an earlier replay had stored it
// already, and a line cut short by a crash is kept aside.
TEST_F(Sqlite, TheJournalIsReplayedExactlyOnce) {
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto first = MakeRun("run-a", 3);
    {
        ResultsWriter writer(SqliteAt(dir.filePath("file/results.sqlite")), journal);
        writer.Submit(first);
        const StoreOutcome o = writer.WaitIdle();
        EXPECT_FALSE(o.stored);
        EXPECT_EQ(o.waiting, 3);
        EXPECT_TRUE(o.warning.contains("3 record(s) wait in " + journal))
            << o.warning.toStdString();
    }
    // The first record made it in before a crash that left the journal.
    ResultsStore store(target);
    QString error;
    ASSERT_TRUE(store.Store({first[0]}, &error));
    {
        QFile f(journal);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("{\"run_id\":\"torn");
    }
    const auto second = MakeRun("run-b", 2);
    {
        ResultsWriter writer(target, journal);
        writer.Submit(second);
        const StoreOutcome o = writer.WaitIdle();
        EXPECT_TRUE(o.stored) << o.warning.toStdString();
        EXPECT_TRUE(o.warning.isEmpty());
    }
    auto want = first;
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_EQ(ReadAll(target), want);
    EXPECT_FALSE(QFile::exists(journal));
    QFile rejected(journal + ".rejected");
    ASSERT_TRUE(rejected.open(QIODevice::ReadOnly));
    EXPECT_EQ(rejected.readAll(), "{\"run_id\":\"torn\n");
}

// ufd-results' CSV, read by Python's csv module, cell for cell equal to the
// database (read by Python's sqlite3); its JSON lines give the records back.
TEST_F(Sqlite, ExportsReadBackByOtherParsersEqualTheRecords) {
    auto records = MakeRun("run-a", 4);
    ResultsStore store(target);
    QString error;
    ASSERT_TRUE(store.Store(records, &error)) << error.toStdString();
    QFile conf(dir.filePath("station.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[Results]\nDatabase=" + target.file.toUtf8() + "\n");
    conf.close();
    auto exported = [&](const char* format) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("UFD_STATION_CONF", conf.fileName());
        p.setProcessEnvironment(env);
        p.start(UFD_RESULTS_BIN, {"export", format});
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return p.readAllStandardOutput();
    };
    QFile csv(dir.filePath("export.csv"));
    ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
    csv.write(exported("--csv"));
    csv.close();
    QProcess py;
    py.start("python3",
             {UFD_SOURCE_DIR "/tests/results/csv_equals_db.py", csv.fileName(), target.file});
    ASSERT_TRUE(py.waitForFinished(60000));
    EXPECT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
    EXPECT_EQ(py.readAllStandardOutput().trimmed(), "4");

    std::vector<DriveRecord> fromJson;
    for (const QByteArray& line : exported("--json").split('\n')) {
        if (!line.isEmpty()) {
            fromJson.push_back(FromJson(QJsonDocument::fromJson(line).object()).value());
        }
    }
    EXPECT_EQ(fromJson, records);
}

} // namespace
} // namespace ufd

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
