// The MES's files through the real programs: ufd-station --batch drops one
// file per run into [Records] DropFolder, `ufd-results export --cfx` gives the
// same bytes for the stored run, and Python's json module reads them back
// field by field against the database. A drop folder that cannot be written
// is a warning; the run's records are stored all the same.
#include "rack_station.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <nlohmann/json.hpp>

namespace ufd {
namespace {

using J = nlohmann::json;
using Ran = RackStation::Ran;

class DropStation : public RackStation {
public:
    // A good drive, a fake one (E0) and one whose unit list is too long (10).
    DropStation() : RackStation(J{{"drives", Drives(kFlaws, "D")}}) { QDir().mkpath(Path("drop")); }

    Ran Batch(const QString& dropFolder) {
        QDir(Path("state")).removeRecursively();
        std::ofstream(Path("station.conf").toStdString())
            << "[MediaTest]\nProbe=true\nSurface=10\nMinWriteMBps=1\nMinReadMBps=2\n"
            << "[Results]\nDatabase=" << Path("results.sqlite").toStdString() << "\n"
            << "[Records]\nDropFolder=" << dropFolder.toStdString() << "\n";
        return Start(Path("bin/ufd-station"), {"--batch", "--operator", "Anna", "--lot", "L-7",
                                               "--items", "format,manufacture,checkconfig"});
    }

    // The Python reader's verdict on message files: the units it checked.
    QString Check(const QStringList& files) const {
        QProcess python;
        python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        python.start("python3", QStringList{UFD_SOURCE_DIR "/tests/results/cfx_matches_db.py",
                                            Path("results.sqlite"), "1", "2"} +
                                    files);
        EXPECT_TRUE(python.waitForFinished(60000));
        return QString::fromUtf8(python.readAll()).trimmed();
    }

private:
    inline static const J kFlaws[] = {
        J::object(),
        {{"flash_sectors", 32768}},
        {{"info", {12, 0x27}}, {"chips", {0x73, 0x73}}, {"units95", {{"default", 1}, {"0:0", 5}}}}};
};

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(MesFiles, EveryRunDropsOneWholeFileThatExportGivesAgainAndPythonReads) {
    DropStation st;
    const Ran run = st.Batch(st.Path("drop"));
    ASSERT_EQ(run.code, 1) << run.out.toStdString() << run.err.toStdString();
    const QString runId = run.out.section('\n', 0, 0).trimmed();
    // One file, named for the run, and no temporary file left beside it.
    const QStringList left = QDir(st.Path("drop")).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(left, QStringList{runId + ".json"});
    const QString dropped = st.Path("drop/" + runId + ".json");
    EXPECT_EQ(st.Check({dropped}), "3");
    EXPECT_TRUE(Read(dropped).contains("\"SymptomCode\": \"E0\"")) << Read(dropped).constData();
    EXPECT_TRUE(Read(dropped).contains("\"SymptomCode\": \"10\"")) << Read(dropped).constData();

    const Ran exported = st.Start(UFD_BIN_DIR "/ufd-results", {"export", "--cfx", runId});
    ASSERT_EQ(exported.code, 0) << exported.err.toStdString();
    EXPECT_EQ(exported.out.toUtf8(), Read(dropped));
    const Ran unknown = st.Start(UFD_BIN_DIR "/ufd-results", {"export", "--cfx", "no-such-run"});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_TRUE(unknown.err.startsWith("ufd-results: no record of run \"no-such-run\""))
        << unknown.err.toStdString();

    // A drop folder that is not there: the run ends as ever, says why on
    // stderr, and its records are stored.
    const Ran lost = st.Batch(st.Path("missing"));
    EXPECT_EQ(lost.code, 1) << lost.err.toStdString();
    EXPECT_TRUE(
        lost.err.contains("[Records] DropFolder " + st.Path("missing") + " is not a folder"))
        << lost.err.toStdString();
    const QString secondRun = lost.out.section('\n', 0, 0).trimmed();
    const Ran again = st.Start(UFD_BIN_DIR "/ufd-results", {"export", "--cfx", secondRun});
    EXPECT_EQ(std::pair(again.code, again.out.count("\"UnitIdentifier\"")),
              std::pair(0, qsizetype(3)))
        << again.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(st.Path("missing")));
}

} // namespace
} // namespace ufd
