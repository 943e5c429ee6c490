// The media test through the real ufd-station --batch on a rack of its own:
// a fake-capacity, a bad-sector, a slow-writing, a slow-reading and a failing
// drive each fail with their own code beside a good one, sequential and
// parallel; the good drive's image is the image of a run without the test,
// and without [MediaTest] every drive passes with no byte read back.
#include "rack_station.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>
#include <nlohmann/json.hpp>

namespace ufd {
namespace {

using J = nlohmann::json;

class MediaStation : public RackStation {
public:
    // A rack of these drives, else drive 1 of the demo rack and five of its
    // kind with flawed flash.
    explicit MediaStation(const J& rack = J()) : RackStation(rack.is_null() ? SixDrives() : rack) {}

    // One batch run with this station.conf, on fresh drives unless kept.
    // The trace only where asked: it holds every byte written, and would slow
    // the writes the speed floors time.
    std::pair<int, QString> Run(const QByteArray& conf, bool traced = false) {
        QDir(Path("state")).removeRecursively();
        QFile(Path("trace.jsonl")).remove();
        QFile f(Path("station.conf"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(conf) == conf.size());
        f.close();
        QProcessEnvironment trace;
        if (traced) {
            trace.insert("QUORLINK_TRACE", Path("trace.jsonl"));
        }
        const Ran ran = Start(Path("bin/ufd-station"), {"--batch"}, trace);
        std::fputs(qPrintable(ran.err), stderr); // the station's own word, for a failure's log
        return {ran.code, ran.out};
    }

    // The code each slot's row shows, "-" for none.
    static QStringList Codes(const QString& out, int slots = 6) {
        QStringList codes;
        const QRegularExpression code("Error Status = ([0-9A-F]+)");
        for (int slot = 1; slot <= slots; ++slot) {
            const QString row = out.section('\n', slot + 1, slot + 1);
            const auto m = code.match(row);
            codes << (m.hasMatch() ? m.captured(1) : "-");
        }
        return codes;
    }

    QByteArray Image(int drive) const {
        QFile f(Path(QString("state/drive-%1/image.img").arg(drive)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    static J SixDrives() {
        const J flaws[] = {J::object(),
                           {{"flash_sectors", 32768}},
                           {{"bad_sectors", {36900}}}, // in a chunk Surface=10 takes
                           {{"mbps", {{"write", 8}}}},
                           {{"mbps", {{"read", 8}}}},
                           // A read fails, and the reset that follows does not help.
                           {{"faults", {{{"op", "read"}, {"nth", 5}}, {{"op", "reset"}}}}}};
        return {{"drives", Drives(flaws, "M")}};
    }
};

TEST(MediaTest, EachFlawFailsWithItsCodeAndAGoodDriveKeepsTheBytesOfAPlainRun) {
    MediaStation st;
    const QByteArray media = "[MediaTest]\nProbe=true\nVerify=true\nSurface=10\n"
                             "MinWriteMBps=20\nMinReadMBps=20\n";
    const QStringList want = {"-", "E0", "E1", "E2", "E3", "E4"};
    QByteArray tested;
    for (const QByteArray& run : {QByteArray(), QByteArray("[Run]\nParallel=true\n")}) {
        SCOPED_TRACE(run.toStdString());
        const auto [code, out] = st.Run(run + media);
        EXPECT_EQ(code, 1) << out.toStdString();
        EXPECT_EQ(MediaStation::Codes(out).join(' ').toStdString(), want.join(' ').toStdString())
            << out.toStdString();
        tested = st.Image(1);
    }
    // The findings in the records, as ufd-results exports them.
    QStringList found;
    const QString exported = st.Start(UFD_BIN_DIR "/ufd-results", {"export", "--json"}).out;
    for (const QString& line : exported.trimmed().split('\n').mid(6)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        found << QString("%1:%2/%3")
                     .arg(o["media_real_sectors"].toInteger(-1))
                     .arg(o["media_sectors_failed"].toInteger(-1))
                     .arg(o["media_write_mbps"].toDouble() > 20);
    }
    EXPECT_EQ(found.join(' ').toStdString(),
              "131072:0/1 32768:0/0 131072:1/1 131072:0/0 131072:0/1 -1:0/0");

    // Without [MediaTest] every flaw goes unseen, as ever, and nothing is read back;
    // the good drive ends with the very bytes the tested run left.
    const auto [code, out] = st.Run("", true);
    EXPECT_EQ(std::pair(code, MediaStation::Codes(out)), std::pair(0, QStringList(6, "-")))
        << out.toStdString();
    QFile trace(st.Path("trace.jsonl"));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    EXPECT_FALSE(trace.readAll().contains("quorlink_read_data"));
    EXPECT_TRUE(st.Image(1) == tested) << "the media test left bytes of its own";
}

// In a parallel run: four drives that each write and read 30 MB/s alone,
// sharing one 40 MB/s hub, all meet floors of 10 MB/s (timed one at a time);
// a write-protected drive fails with its own code and words; a drive that
// stops answering is brought back by its one reset and passes, one whose
// reset does not help fails E4.
TEST(MediaTest, SharedHubsProtectedSwitchesAndDrivesThatStopAnswering) {
    const J kinds[] = {{{"hub", "h"}, {"mbps", {{"read", 30}, {"write", 30}}}},
                       {{"hub", "h"}, {"mbps", {{"read", 30}, {"write", 30}}}},
                       {{"hub", "h"}, {"mbps", {{"read", 30}, {"write", 30}}}},
                       {{"hub", "h"}, {"mbps", {{"read", 30}, {"write", 30}}}},
                       {{"write_protect", true}},
                       {{"hang_after", 150}},
                       {{"hang_after", 150}, {"faults", {{{"op", "reset"}}}}}};
    MediaStation st(
        J{{"hubs", {{"h", {{"mbps", 40}}}}}, {"drives", RackStation::Drives(kinds, "H")}});
    const auto [code, out] = st.Run("[Run]\nParallel=true\n[Window]\nRows=8\n[MediaTest]\n"
                                    "Probe=true\nMinWriteMBps=10\nMinReadMBps=10\n");
    EXPECT_EQ(code, 1) << out.toStdString();
    EXPECT_EQ(MediaStation::Codes(out, 7).join(' ').toStdString(), "- - - - E5 - E4")
        << out.toStdString();
    EXPECT_TRUE(out.contains("229     write protected (switch on)")) << out.toStdString();
}

} // namespace
} // namespace ufd
