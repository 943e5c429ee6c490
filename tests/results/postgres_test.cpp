// The PostgreSQL store against a real server this program starts itself
// (initdb and pg_ctl in a temporary directory, as a user other than root).
#include "records.h"
#include "results/results_store.h"
#include "results/results_writer.h"
#include "support/pg_server.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <optional>
#include <thread>

namespace ufd {
namespace {

using test::MakeRun;
using test::ReadAll;

test::PgServer* server = nullptr;

class Postgres : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server->skip.isEmpty()) {
            GTEST_SKIP() << server->skip.toStdString();
        }
    }
    DatabaseTarget NewDatabase(const QString& name) {
        QString error;
        auto target = server->NewDatabase(name, &error);
        EXPECT_TRUE(target) << error.toStdString();
        return target.value_or(DatabaseTarget{});
    }
    QTemporaryDir dir;
};

// The server goes down between two runs and comes back: the run in between
// waits in the journal, and the writer's retry brings it in without a
// further run; every record arrives once.
TEST_F(Postgres, AServerStoppedAndStartedAgainGetsEveryRecordOnce) {
    const DatabaseTarget target = NewDatabase("restart");
    ResultsWriter writer(target, dir.filePath("journal.jsonl"), std::chrono::milliseconds(200));
    const auto a = MakeRun("run-a", 16), b = MakeRun("run-b", 16), c = MakeRun("run-c", 16);
    writer.Submit(a);
    EXPECT_TRUE(writer.WaitIdle().stored);

    ASSERT_TRUE(server->Stop());
    writer.Submit(b);
    const StoreOutcome down = writer.WaitIdle();
    EXPECT_FALSE(down.stored);
    EXPECT_EQ(down.waiting, 16);
    EXPECT_TRUE(down.warning.startsWith("Results not stored in postgresql://ufd@127.0.0.1:"))
        << down.warning.toStdString();

    ASSERT_TRUE(server->Start());
    QElapsedTimer waited;
    waited.start();
    while (!writer.Last().stored && waited.elapsed() < 30000) {
        QThread::msleep(50);
    }
    EXPECT_TRUE(writer.Last().stored) << writer.Last().warning.toStdString();
    writer.Submit(c);
    EXPECT_TRUE(writer.WaitIdle().stored);

    auto want = a;
    want.insert(want.end(), b.begin(), b.end());
    want.insert(want.end(), c.begin(), c.end());
    EXPECT_EQ(ReadAll(target), want);
    EXPECT_FALSE(QFile::exists(dir.filePath("journal.jsonl")));
}

// Two stations start on an empty database at the same moment (both create
// the schema) and write run after run.
TEST_F(Postgres, TwoStationsWriteToOneServerAtOnce) {
    const DatabaseTarget target = NewDatabase("two_stations");
    constexpr int kRuns = 10;
    auto station = [&](const QString& id) {
        ResultsWriter writer(target, dir.filePath(id + ".jsonl"));
        for (int run = 0; run < kRuns; ++run) {
            writer.Submit(
                MakeRun(QString("%1-run-%2").arg(id).arg(run, 2, 10, QChar('0')), 16, id));
        }
        EXPECT_TRUE(writer.WaitIdle().stored) << writer.Last().warning.toStdString();
    };
    std::thread one(station, "line-1");
    std::thread two(station, "line-2");
    one.join();
    two.join();
    std::vector<DriveRecord> want;
    for (const char* id : {"line-1", "line-2"}) {
        for (int run = 0; run < kRuns; ++run) {
            const auto r =
                MakeRun(QString("%1-run-%2").arg(id).arg(run, 2, 10, QChar('0')), 16, id);
            want.insert(want.end(), r.begin(), r.end());
        }
    }
    EXPECT_EQ(ReadAll(target), want);
}

} // namespace
} // namespace ufd

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // gtest_discover_tests lists the tests without running them: no server.
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    ufd::test::PgServer pg;
    ufd::server = &pg;
    const int code = RUN_ALL_TESTS();
    ufd::server = nullptr;
    return code;
}
