// Two real stations of one user at once, each with its own rack and notice
// channel and the default (shared) runtime directory: each must judge its own
// drives exactly as when it runs alone.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <array>

namespace {

// A program directory and a rack of its own; `unplugged` drives are out.
class Station {
public:
    explicit Station(const std::vector<int>& unplugged) {
        QDir().mkpath(dir.filePath("bin"));
        for (const QString name : {"ufd-station", "Vasket", "libquorlink.so"}) {
            EXPECT_TRUE(QFile::copy(UFD_BIN_DIR "/" + name, dir.filePath("bin/" + name)));
        }
        EXPECT_TRUE(
            QFile::copy(UFD_SOURCE_DIR "/examples/Product.ini", dir.filePath("bin/Product.ini")));
        QFile in(UFD_SOURCE_DIR "/examples/rack/fast.json");
        EXPECT_TRUE(in.open(QIODevice::ReadOnly));
        QJsonObject rack = QJsonDocument::fromJson(in.readAll()).object();
        QJsonArray drives = rack.value("drives").toArray();
        for (int i = 0; i < drives.size(); ++i) {
            QJsonObject d = drives[i].toObject();
            if (std::find(unplugged.begin(), unplugged.end(), d.value("index").toInt()) !=
                unplugged.end()) {
                d.insert("plugged", false);
                drives[i] = d;
            }
        }
        rack.insert("drives", drives);
        QFile out(dir.filePath("rack.json"));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QJsonDocument(rack).toJson());
        env = QProcessEnvironment::systemEnvironment();
        env.insert("QUORLINK_RACK", dir.filePath("rack.json"));
        env.insert("QUORLINK_STATE_DIR", dir.filePath("state"));
        env.insert("UFD_NOTICE_CHANNEL", "ufd-side-" + QUuid::createUuid().toString(QUuid::Id128));
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        env.remove("QUORLINK_REPLY_DIR");
        env.remove("XDG_RUNTIME_DIR");
    }
    void Start() {
        QDir(dir.filePath("state")).removeRecursively();
        process.setProcessEnvironment(env);
        process.start(dir.filePath("bin/ufd-station"), {"--batch"});
    }
    // The printed rows and verdict, without the first line: the run id,
    // new in every run.
    QString Finish() {
        EXPECT_TRUE(process.waitForFinished(120000));
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        return out.section(QLatin1Char('\n'), 1);
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
    QProcess process;
};

TEST(SideBySide, TwoStationsJudgeTheirOwnDrivesAsWhenAlone) {
    std::array<Station, 2> stations{Station({}), Station({1, 3, 6})};
    std::array<QString, 2> alone;
    for (int i = 0; i < 2; ++i) {
        stations[i].Start();
        alone[i] = stations[i].Finish();
        ASSERT_TRUE(alone[i].contains("Verdict: ")) << alone[i].toStdString();
    }
    ASSERT_NE(alone[0], alone[1]);
    // Twenty rounds on the fast rack: with shared reply files the slower default rack
    // gave a wrong row about once in four rounds.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        for (Station& s : stations) {
            s.Start();
        }
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(stations[i].Finish(), alone[i]);
        }
    }
}

} // namespace
