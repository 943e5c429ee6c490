// The line's figures as the database aggregates them, over SQLite and over
// PostgreSQL read by a role that may only SELECT: which runs count for a
// drive, where it counts, the Pareto's order, hours and days in local time,
// columns an older database lacks, and the rule that calls a socket suspect.
#include "support/test_common.h"

#include "results/results_store.h"
#include "results/socket_map.h"
#include "results/yield_query.h"
#include "support/pg_server.h"
#include "support/results_db.h"
#include "support/yield_rows.h"

#include <QCoreApplication>

#include <ctime>

namespace ufd {
namespace {

using test::Rec;

DriveRecord RootCause(DriveRecord r, int first) {
    r.FirstStatus = first;
    return r;
}

// S1 fails 10 then passes on a retest elsewhere; S2 passes, then fails a
// write-protect check alone (counts for nothing); S3 fails 10 twice; S4
// fails F0 on its first pass after a day change in Berlin (and F4 after it:
// the Pareto counts the root cause); two drives
// without a serial are a unit each; S5 never had a Format.
std::vector<DriveRecord> Line() {
    return {Rec("st-a", "1-1", "S1", "2026-12-07T08:00:00.000Z", 0x10),
            Rec("st-a", "1-2", "S2", "2026-12-07T08:00:01.000Z", 0),
            Rec("st-b", "2-1", "S1", "2026-12-07T09:00:00.000Z", 0),
            Rec("st-b", "2-1", "S2", "2026-12-07T09:00:01.000Z", 0xF5, false),
            Rec("st-a", "1-1", "S3", "2026-12-07T10:00:00.000Z", 0x10),
            Rec("st-a", "1-1", "S3", "2026-12-07T11:00:00.000Z", 0x10),
            RootCause(Rec("st-b", "2-2", "S4", "2026-12-07T23:30:00.000Z", 0xF4), 0xF0),
            Rec("st-b", "2-2", "", "2026-12-07T23:40:00.000Z", 0),
            Rec("st-b", "2-2", "", "2026-12-07T23:41:00.000Z", 0),
            Rec("st-b", "2-1", "S5", "2026-12-07T23:50:00.000Z", 0xF5, false)};
}

using Rows = std::vector<test::YieldTuple>;
using test::Codes;
using test::Groups;

void ExpectTheLine(const DatabaseTarget& reader) {
    RecordReader db(reader);
    YieldQueries q(db);
    EXPECT_EQ(Groups(q, YieldBy::Station), (Rows{{"st-a", "", 3, 1, 2}, {"st-b", "", 3, 2, 2}}));
    EXPECT_EQ(Groups(q, YieldBy::Socket),
              (Rows{{"1-1", "st-a", 2, 0, 1}, {"1-2", "st-a", 1, 1, 1}, {"2-2", "st-b", 3, 2, 2}}));
    EXPECT_EQ(Groups(q, YieldBy::Product), (Rows{{"1234:5678 Flash", "", 6, 3, 4}}));
    EXPECT_EQ(Groups(q, YieldBy::Day),
              (Rows{{"2026-12-07", "", 3, 1, 2}, {"2026-12-08", "", 3, 2, 2}}));
    EXPECT_EQ(Groups(q, YieldBy::Day, {"", "", "", true}), (Rows{{"2026-12-07", "", 6, 3, 4}}));
    // Runs before since are not seen: S1 has its first pass at 09:00 here.
    EXPECT_EQ(Groups(q, YieldBy::Hour, {"2026-12-07T09", "st-b", "1234:5678", true}),
              (Rows{{"2026-12-07 09:00", "", 1, 1, 1}, {"2026-12-07 23:00", "", 3, 2, 2}}));
    EXPECT_EQ(Codes(q), (std::vector<std::pair<int, qint64>>{{0x10, 2}, {0xF0, 1}}));
    QString error;
    const auto history = db.Drive("S1", &error);
    ASSERT_TRUE(history && history->size() == 2) << error.toStdString();
    EXPECT_EQ((*history)[1].StationId, "st-b");
}

class Yield : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString error;
};

TEST_F(Yield, SqliteCountsEachDriveOnceWhereItsFirstPassRan) {
    const DatabaseTarget target = ParseDatabaseSetting(dir.filePath("r.sqlite")).target;
    ASSERT_TRUE(ResultsStore(target).Store(Line(), &error)) << error.toStdString();
    ExpectTheLine(target);
}

TEST_F(Yield, PostgresGivesTheSameFiguresToARoleThatMayOnlySelect) {
    test::PgServer server;
    UFD_SKIP_WITHOUT(server);
    DatabaseTarget target = server.NewDatabase("line", &error).value();
    ASSERT_TRUE(ResultsStore(target).Store(Line(), &error)) << error.toStdString();
    ASSERT_TRUE(test::Sql(target, {"CREATE ROLE reader LOGIN",
                                   "GRANT SELECT ON ALL TABLES IN SCHEMA public TO reader"}));
    target.user = "reader";
    ExpectTheLine(target);
}

TEST(SocketMap, ASocketIsSuspectOnlyFarAboveItsStationsOtherSockets) {
    // key, station, units, first passes
    const std::vector<YieldRow> rows = {
        {"1-1", "a", 10, 4},  // 60% beside 10%: suspect
        {"1-2", "a", 10, 9},  //
        {"1-3", "a", 10, 9},  //
        {"2-1", "b", 4, 0},   // too few drives to tell
        {"2-2", "b", 10, 9},  //
        {"3-1", "c", 10, 5},  // 50% beside 40%: the whole station is bad
        {"3-2", "c", 10, 6},  //
        {"4-1", "d", 20, 17}, // 15% beside 0%: below the margin
        {"4-2", "d", 10, 10}, //
        {"5-1", "e", 10, 0},  // a station of one socket
    };
    const std::vector<SocketRate> map = SocketMap(rows);
    std::vector<bool> suspect;
    for (const SocketRate& rate : map) {
        suspect.push_back(rate.suspect);
    }
    ASSERT_EQ(suspect, (std::vector<bool>{true, false, false, false, false, false, false, false,
                                          false, false}));
    EXPECT_DOUBLE_EQ(map[0].othersRate, 0.1);
}

} // namespace
} // namespace ufd

int main(int argc, char** argv) {
    // Every figure of this program is reckoned in a zone with summer time
    // whose midnight is not UTC's.
    qputenv("TZ", "Europe/Berlin");
    ::tzset();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
