// The real ufd-station binary in --batch mode on the simulated rack: what an
// operator would see printed, and what the drives hold afterwards.
#include "support/sim_rack.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUuid>

#include <functional>
#include <map>
#include <vector>

namespace {

// Cells of the printed report: slot number -> its columns.
enum Col { kSlot, kRow, kPicture, kFormat, kConfig, kCheckConfig, kCheckWP, kStatus };

// The pictures of the slots in order, space-separated.
struct Outcome {
    int code = -1;
    QString out, verdict, pictures, runId;
    std::map<int, QStringList> rows;
};

// The process's rack with fresh drives, and a copy of the program directory
// beside it: Product.ini is read beside the binary, and the library is found
// through $ORIGIN.
class Station {
public:
    Station() {
        rack.Reset();
        QDir(path("bin")).removeRecursively();
        QDir().mkpath(path("bin"));
        for (const QString name : {"ufd-station", "Vasket", "libquorlink.so"}) {
            EXPECT_TRUE(QFile::copy(UFD_BIN_DIR "/" + name, path("bin/" + name)));
        }
        qputenv("UFD_NOTICE_CHANNEL", "ufd-e2e-" + QUuid::createUuid().toByteArray(QUuid::Id128));
        // The records go to this test's own default database and journal.
        QDir(path("data")).removeRecursively();
        qputenv("XDG_DATA_HOME", path("data").toLocal8Bit());
        qunsetenv("UFD_STATION_CONF");
    }

    // ufd-results from the build, with this station's settings lookup.
    QString results(const QStringList& args) const {
        QProcess p;
        p.start(UFD_BIN_DIR "/ufd-results", args);
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    QString path(const QString& name) const { return rack.Path(name); }

    // examples/Product.ini beside the binary, with one text replaced
    // ("ApMode=1" by "ApMode=4").
    void product(const QString& from = {}, const QString& to = {}) {
        QFile in(UFD_SOURCE_DIR "/examples/Product.ini");
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        QFile out(path("bin/Product.ini"));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        QByteArray text = in.readAll();
        out.write(from.isEmpty() ? text : text.replace(from.toLatin1(), to.toLatin1()));
    }

    Outcome run() {
        Outcome r;
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(path("bin/ufd-station"), {"--batch"});
        EXPECT_TRUE(p.waitForFinished(120000)) << "station did not finish";
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        // The report pads its columns; a cell may itself hold wide gaps
        // ("2 Chip(s)   500 MB"), so cells are cut at the header's positions.
        std::vector<qsizetype> starts;
        const QString first = r.out.section('\n', 0, 0);
        if (!QUuid::fromString(first).isNull()) {
            r.runId = first;
        }
        for (const QString& line : r.out.split('\n')) {
            if (line.startsWith("Slot ")) {
                for (const char* h : {"Slot", "Row", "Picture", "Format", "Config String",
                                      "Check Config", "Check WP", "Status"}) {
                    starts.push_back(line.indexOf(h));
                }
            } else if (line.startsWith("Verdict: ")) {
                r.verdict = line.mid(9);
            } else if (starts.size() == 8 && !line.isEmpty() && line[0].isDigit()) {
                QStringList cells;
                for (size_t c = 0; c < starts.size(); ++c) {
                    const qsizetype to = c + 1 < starts.size() ? starts[c + 1] : line.size();
                    cells << line.mid(starts[c], to - starts[c]).trimmed();
                }
                r.rows[cells[0].toInt()] = cells;
                r.pictures += (r.pictures.isEmpty() ? "" : " ") + cells[kPicture];
            }
        }
        return r;
    }

    ufd::test::SimRack& rack = ufd::test::SimRack::Shared("fast.json");
};

// One run per application mode on the default rack, where drive 5's chip
// list is too long (0x10) and drive 6 is write protected (0xF0 on writes).
TEST(StationEndToEnd, EachApplicationModeRunsOnlyItsItems) {
    struct Case {
        const char* mode;
        int code;
        const char* pictures;
        // Cells of slot 1: Format, Config String, Check Config, Check WP; and
        // Check WP of slot 6.
        QStringList slot1;
        const char* checkWP6;
    };
    const char* none = "- | -";
    const QString format = "V | 2 Chip(s)   500 MB", config = "String = V | Write = V";
    // clang-format off
    const Case cases[] = {
        {"1", 1, "green green green green red red green", {format, config, "V | \"\"", none}, none},
        {"3", 0, "green green green green green green green", {none, config, "V | \"\"", none}, none},
        // Nothing was ever written, so the check finds no config.
        {"4", 1, "red red red red red red red", {none, none, "X | Error Status = F4", none}, none},
        {"5", 1, "red red red red red green red", {none, none, none, "- | Not Write Protected"},
         "Write Protected | -"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Station st;
        st.product("ApMode=1", QString("ApMode=") + c.mode);
        const Outcome r = st.run();
        EXPECT_EQ(r.code, c.code) << r.out.toStdString();
        EXPECT_FALSE(r.runId.isEmpty()) << "the run id comes first: " << r.out.toStdString();
        EXPECT_EQ(r.verdict, c.code == 0 ? "! ALL PASS !" : "! FAILED !");
        EXPECT_EQ(r.pictures, c.pictures);
        ASSERT_EQ(r.rows.size(), 7u) << r.out.toStdString();
        EXPECT_EQ(r.rows.at(1).mid(kFormat, 4), c.slot1);
        EXPECT_EQ(r.rows.at(6)[kCheckWP], c.checkWP6);
        // Only a run that wrote the config leaves one on the drive.
        const QString config = st.rack.Tool({"config", "1"});
        EXPECT_EQ(config.startsWith("0000  99"), c.slot1[1] != none) << config.toStdString();
        if (QString(c.mode) == "1") {
            // VID 1234 / PID 5678, and two areas of half the drive each.
            EXPECT_TRUE(config.contains("34 12 78 56")) << config.toStdString();
            EXPECT_TRUE(st.rack.Tool({"partitions", "1"}).contains("EBR at sector 499999"));
        }
    }
}

// Runs that cannot start: every box in order, then why, and exit code 2.
TEST(StationEndToEnd, RunsThatCannotStartPrintTheirBoxesInOrder) {
    const QString stop = "Message (style 16, \"UFD Manufacture Program\"): ";
    struct Case {
        const char* name;
        std::function<void(Station&)> arrange;
        QStringList lines;
    };
    const auto unplugAll = [](Station& st) {
        st.product();
        for (int i = 1; i <= 7; ++i) {
            st.rack.Tool({"unplug", QString::number(i)});
        }
    };
    // clang-format off
    const Case cases[] = {
        {"no Product.ini", [](Station&) {},
         {stop + "Open product.ini failed -> OK", stop + "Open Product.ini failed -> OK",
          "Start-up failed: Open Product.ini failed"}},
        {"shares that do not add up", [](Station& st) { st.product("2nd=0.5", "2nd=0.6"); },
         {stop + "Partition Information error -> OK", "Start-up failed: Partition Information error"}},
        {"no Vasket", [](Station& st) { st.product(); QFile::remove(st.path("bin/Vasket")); },
         {"Message (style 16): Missing important file, please reinstall the software -> OK",
          "Start-up failed: Missing important file, please reinstall the software"}},
        {"no items", [](Station& st) { st.product("ApMode=1", "ApMode=0"); },
         {"Message (style 48): No items checked -> OK", "The run did not start."}},
        {"no drive", unplugAll, {"No drive attached: the run could not start."}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Station st;
        c.arrange(st);
        const Outcome r = st.run();
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out.split('\n', Qt::SkipEmptyParts), c.lines);
    }
}

// A database that cannot be written: the rows still print, then the
// warning, exit 3; the next run with a good database brings both runs in,
// each drive once, listed with the rack's serials and the failed codes.
TEST(StationEndToEnd, RecordsWaitInTheJournalUntilTheDatabaseTakesThem) {
    Station st;
    st.product();
    QFile blocker(st.path("not-a-dir"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QFile conf(st.path("station.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[Results]\nDatabase=" + st.path("not-a-dir/results.sqlite").toUtf8() +
               "\nStationId=line-1\n");
    conf.close();
    qputenv("UFD_STATION_CONF", st.path("station.conf").toLocal8Bit());
    const Outcome lost = st.run();
    EXPECT_EQ(lost.code, 3) << lost.out.toStdString();
    const QStringList out = lost.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(out.size(), 3);
    EXPECT_TRUE(out[out.size() - 2].startsWith("Verdict: ")) << lost.out.toStdString();
    EXPECT_TRUE(out.last().startsWith("Results not stored in ")) << out.last().toStdString();
    EXPECT_TRUE(out.last().contains("7 record(s) wait in")) << out.last().toStdString();

    qunsetenv("UFD_STATION_CONF");
    st.rack.Reset();
    const Outcome next = st.run();
    EXPECT_EQ(next.code, 1) << next.out.toStdString();
    const QString list = st.results({"list"});
    EXPECT_EQ(list.count(lost.runId), 7) << list.toStdString();
    EXPECT_EQ(list.count(next.runId), 7) << list.toStdString();
    const QStringList lines = list.split('\n').filter(next.runId);
    ASSERT_EQ(lines.size(), 7);
    for (int slot = 1; slot <= 7; ++slot) {
        const QString result = slot == 5 ? "FAIL status 10" : slot == 6 ? "FAIL status F0" : "PASS";
        EXPECT_EQ(lines[slot - 1].split(' ', Qt::SkipEmptyParts).mid(3).join(' '),
                  QString("%1 A%1%2 ").arg(slot).arg(slot, 6, 10, QChar('0')) + result);
    }
    EXPECT_EQ(st.results({"list", "--station", "line-1"}).count('\n'), 7);
    EXPECT_FALSE(QFile::exists(st.path("data/ufd-station/journal.jsonl")));
}

} // namespace
