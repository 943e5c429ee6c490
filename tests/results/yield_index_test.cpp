// The server's in-memory figures against the database's own: a varied line
// stored through the real writer, then newer records, a run's second half
// with the start the index already holds, and a record stored late with an
// older start; every grouping and a few filters give YieldQueries' answers.
#include "support/test_common.h"

#include "results/record_time.h"
#include "results/results_writer.h"
#include "results/yield_index.h"
#include "results/yield_query.h"
#include "support/pg_server.h"
#include "support/results_db.h"
#include "support/yield_rows.h"

#include <QSqlQuery>
#include <QTimeZone>

namespace ufd {
namespace {

// Runs of up to four drives on three stations across Berlin's midnight:
// retests of a pool of serials, drives without one, write-protect checks
// alone, two products (one only its product string apart), lots, operators
// and socket labels that are sometimes empty.
std::vector<DriveRecord> Varied() {
    std::vector<DriveRecord> out;
    quint32 seed = 7;
    const auto next = [&](quint32 n) { return (seed = seed * 1103515245u + 12345u) / 65536u % n; };
    for (int run = 0; run < 90; ++run) {
        const QString start = QDateTime(QDate(2026, 12, 7), QTime(21, 0), QTimeZone::utc())
                                  .addSecs(run * 97)
                                  .toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"));
        for (int slot = 1; slot <= 1 + int(next(4)); ++slot) {
            DriveRecord r;
            r.RunId = QStringLiteral("run-%1").arg(run, 3, 10, QLatin1Char('0'));
            r.Slot = slot;
            r.StationId = QStringLiteral("st-%1").arg(QChar(u'a' + run % 3));
            r.StartedUtc = r.EndedUtc = start;
            r.Vid = "1234";
            r.Pid = run % 5 == 0 ? "9999" : "5678";
            r.UsbProduct = run % 7 == 0 ? "Flash Pro" : "Flash";
            r.PortPath = QStringLiteral("1-%1").arg(slot);
            r.Socket = slot == 2 ? QString() : QStringLiteral("S%1").arg(slot);
            r.Serial = next(6) == 0 ? QString() : QStringLiteral("D%1").arg(next(120));
            r.Lot = QStringList{"", "L1", "L2"}[run % 3 == 1 ? 0 : 1 + run / 45];
            r.Operator = run % 4 == 0 ? "anna" : "ben";
            r.Status = QList<int>{0, 0, 0, 0x10, 0xF0, 0xF5}[int(next(6))];
            r.Passed = r.Status == 0;
            if (r.Status == 0xF0 && run % 2 == 0) {
                r.FirstStatus = 0xF0; // a root cause the drive's last status hides
                r.Status = 0xF4;
            }
            r.Items[next(5) == 0 ? 3 : 0] = ItemResult{"", "", r.Status, 1};
            out.push_back(r);
        }
    }
    return out;
}

void Store(const DatabaseTarget& target, const QString& journal, std::vector<DriveRecord> rs) {
    ResultsWriter writer(target, journal);
    writer.Submit(std::move(rs));
    const StoreOutcome outcome = writer.WaitIdle();
    ASSERT_TRUE(outcome.stored) << outcome.warning.toStdString();
}

using Row = test::YieldTuple;
using test::Codes;
using test::Groups;

void ExpectSameFigures(RecordReader& db, YieldIndex& index, const QString& stamp) {
    QString error;
    ASSERT_TRUE(index.Refresh(stamp, &error)) << error.toStdString();
    ASSERT_TRUE(index.Usable());
    YieldQueries sql(db);
    const std::vector<RecordFilter> filters = {
        {},
        {"", "", "", true},
        {"2026-12-07T22:10:00.000Z", "", "", false},
        {"", "st-b", "", false},
        {"", "", "1234:9999", true},
        {"", "", "Flash Pro", false},
        {"2026-12-07T21:30:00.000Z", "st-a", "Flash", false},
        {"", "nobody", "", false},
    };
    for (const RecordFilter& f : filters) {
        SCOPED_TRACE((f.since + u'|' + f.station + u'|' + f.product).toStdString());
        for (YieldBy by : {YieldBy::Product, YieldBy::Station, YieldBy::Socket, YieldBy::Hour,
                           YieldBy::Day, YieldBy::Lot, YieldBy::Operator}) {
            const std::vector<Row> expected = Groups(sql, by, f);
            EXPECT_TRUE(!expected.empty() || !(f.since + f.station + f.product).isEmpty())
                << YieldByName(by).toStdString();
            EXPECT_EQ(Groups(index, by, f), expected) << YieldByName(by).toStdString();
        }
        EXPECT_EQ(Codes(index, f), Codes(sql, f));
    }
}

void ExpectTheIndexFollows(const DatabaseTarget& writer, const DatabaseTarget& reader,
                           const QString& journal) {
    std::vector<DriveRecord> line = Varied();
    DriveRecord late = line[5];
    late.RunId = "late";
    late.StartedUtc = "2026-12-07T20:00:00.000Z";
    late.Serial = "D1";
    late.Items = {ItemResult{"", "", late.Status, 1}};
    // The cut falls inside a run: its other drives come with the later ones.
    auto half = line.begin() + qsizetype(line.size() * 2 / 3);
    while (half->StartedUtc != (half - 1)->StartedUtc) {
        ++half;
    }
    RecordReader db(reader);
    // The late record is seen by the count of the recent records, or, when it
    // is older than those, by the count of the whole table.
    YieldIndex recent(db, "2026-12-07T00:00:00.000Z", std::chrono::hours(1));
    YieldIndex whole(db, "9999-01-01T00:00:00.000Z", std::chrono::milliseconds(0));
    const std::vector<std::vector<DriveRecord>> arriving = {
        {line.begin(), half}, {half, line.end()}, {late}};
    for (size_t i = 0; i < arriving.size(); ++i) {
        Store(writer, journal, arriving[i]);
        ExpectSameFigures(db, recent, QString::number(i));
        ExpectSameFigures(db, whole, QString::number(i));
    }
    const auto formats = std::count_if(line.begin(), line.end(),
                                       [](const DriveRecord& r) { return r.Items[0].has_value(); });
    EXPECT_EQ(recent.Size(), size_t(formats) + 1);
}

TEST(YieldIndex, SqliteAnswersAsTheDatabaseDoes) {
    QTemporaryDir dir;
    const DatabaseTarget target = ParseDatabaseSetting(dir.filePath("r.sqlite")).target;
    ExpectTheIndexFollows(target, target, dir.filePath("journal"));
}

TEST(YieldIndex, PostgresAnswersAsTheDatabaseDoes) {
    test::PgServer server;
    UFD_SKIP_WITHOUT(server);
    QString error;
    QTemporaryDir dir;
    const DatabaseTarget target = server.NewDatabase("line", &error).value();
    ExpectTheIndexFollows(target, target, dir.filePath("journal"));
}

// The index takes only starts in the station's own form (anything else sends
// the figures back to the database), and its hours and days are those SQL
// gives: local time across a change of date and of summer time, or UTC.
TEST(YieldIndex, StartsAndTheirHoursAndDays) {
    // start, milliseconds since the epoch (-1: refused)
    const std::pair<const char*, qint64> starts[] = {
        {"1970-01-01T00:00:00.000Z", 0},
        {"2026-12-07T08:00:00.123Z", 1796630400123},
        {"2028-02-29T00:00:00.000Z", 1835395200000},
        {"2026-02-29T00:00:00.000Z", -1}, // not a leap year
        {"2026-12-07T24:00:00.000Z", -1},
        {"2026-12-07T08:00:00Z", -1},      // no milliseconds: not the station's form
        {"2026-12-07 08:00:00.000Z", -1},  // no T
        {"2026-12-07T08:00:00.000+01", -1} // an offset
    };
    for (const auto& [text, ms] : starts) {
        EXPECT_EQ(StartMs(text).value_or(-1), ms) << text;
    }
    // start, UTC, hour -> key text
    const std::tuple<const char*, bool, bool, const char*> keys[] = {
        {"2026-12-07T23:30:00.000Z", false, false, "2026-12-08"},
        {"2026-12-07T23:30:00.000Z", true, false, "2026-12-07"},
        {"2026-12-07T23:30:00.000Z", false, true, "2026-12-08 00:00"},
        {"2026-03-29T01:30:00.000Z", false, true, "2026-03-29 03:00"}, // summer time begins
        {"2026-10-25T00:30:00.000Z", false, true, "2026-10-25 02:00"},
        {"2026-10-25T01:30:00.000Z", false, true, "2026-10-25 02:00"}, // the hour twice
    };
    for (const auto& [text, utc, hour, key] : keys) {
        EXPECT_EQ(TimeKeyText(TimeKey(StartMs(text).value(), utc, hour), hour), key) << text;
    }
}

// A database of a station before lots, operators and socket labels: the
// index reads what is there and refuses lot and operator as SQL does.
TEST(YieldIndex, OlderDatabaseWithoutLotOperatorOrSocket) {
    QTemporaryDir dir;
    const DatabaseTarget target = ParseDatabaseSetting(dir.filePath("old.sqlite")).target;
    ASSERT_TRUE(test::Sql(
        target,
        {"CREATE TABLE drive_records (run_id TEXT, slot BIGINT, station_id TEXT, "
         "started_utc TEXT, vid TEXT, pid TEXT, usb_product TEXT, port_path TEXT, serial "
         "TEXT, status BIGINT, passed BIGINT, format_status BIGINT, PRIMARY KEY (run_id, "
         "slot))",
         "INSERT INTO drive_records VALUES ('r1', 1, 'a', '2026-12-07T08:00:00.000Z', '1', "
         "'2', 'F', '1-1', 'X', 16, 0, 16), ('r2', 1, 'a', '2026-12-07T09:00:00.000Z', '1', "
         "'2', 'F', '1-2', 'X', 0, 1, 0), ('r2', 2, 'a', '2026-12-07T09:00:00.000Z', NULL, "
         "'2', 'F', '1-1', '', 0, 1, 0)"}));
    RecordReader db(target);
    YieldIndex index(db, "2026-12-07T00:00:00.000Z");
    ExpectSameFigures(db, index, "1");
    EXPECT_EQ(Groups(index, YieldBy::Socket, {}), (std::vector<Row>{{"1-1", "a", 2, 1, 2}}));

    // SQL NULL apart from "" in texts; NULL slot, status and passed; then a
    // passed neither 0 nor 1, which only the database answers.
    const auto insert = [&](const char* rows) {
        return test::Sql(target, {QString("INSERT INTO drive_records VALUES ") + rows});
    };
    // r3/1 and r5/1 have neither serial nor slot: one unit, as SQL takes
    // them; r3/1's status NULL and r3/3's 0 are two causes.
    ASSERT_TRUE(insert(
        "('r3', NULL, 'a', '2026-12-07T10:00:00.000Z', '1', '2', '', '1-3', '', NULL, 0, 0), "
        "('r3', 2, NULL, '2026-12-07T10:00:00.000Z', '1', '2', NULL, '1-4', NULL, 16, NULL, 16), "
        "('r3', 3, 'a', '2026-12-07T10:00:00.000Z', '1', '2', 'F', '1-5', 'Z', 0, 0, 0), "
        "('r5', NULL, 'a', '2026-12-07T10:30:00.000Z', '1', '2', 'F', '1-3', '', 0, 1, 0)"));
    ExpectSameFigures(db, index, "2");
    ASSERT_TRUE(
        insert("('r4', 1, 'a', '2026-12-07T11:00:00.000Z', '1', '2', 'F', '1-1', 'Y', 0, 2, 0)"));
    QString error;
    ASSERT_TRUE(index.Refresh("3", &error)) << error.toStdString();
    EXPECT_FALSE(index.Usable());
}

} // namespace
} // namespace ufd
