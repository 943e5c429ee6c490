// The language through the real ufd-station --batch: [Window] Language=zh_CN,
// or a Chinese locale without it, shows the verdict in Chinese and ends as the
// English run does, en keeps the
// English texts whatever the locale says, and a language the station does not
// ship stops it before any drive is touched.
#include "support/test_common.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

namespace ufd {
namespace {

TEST(Language, TheBatchRunSpeaksTheLanguageChosenAndEndsAlike) {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("bin"));
    for (const QString name : {"ufd-station", "Vasket", "libquorlink.so"}) {
        ASSERT_TRUE(QFile::copy(UFD_BIN_DIR "/" + name, dir.filePath("bin/" + name)));
    }
    ASSERT_TRUE(
        QFile::copy(UFD_SOURCE_DIR "/examples/Product.ini", dir.filePath("bin/Product.ini")));
    ASSERT_TRUE(QFile::copy(UFD_SOURCE_DIR "/examples/rack/fast.json", dir.filePath("rack.json")));
    const struct {
        const char* language;
        const char* locale;
        int code;
        const char* said; // the last line
    } cases[] = {
        {"zh_CN", "C", 1, "结论： ! 失败 !"},
        {"", "zh_CN.UTF-8", 1, "结论： ! 失败 !"}, // the locale's
        {"", "C", 1, "Verdict: ! FAILED !"},
        {"en", "zh_CN.UTF-8", 1, "Verdict: ! FAILED !"},
        {"de", "C", 2, "[Window] Language: \"de\": must be one of en, zh_CN"},
    };
    for (const auto& c : cases) {
        QDir(dir.filePath("state")).removeRecursively();
        std::ofstream(dir.filePath("station.conf").toStdString())
            << "[Window]\nLanguage=" << c.language
            << "\n[Results]\nDatabase=" << dir.filePath("results.sqlite").toStdString() << "\n";
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUORLINK_RACK", dir.filePath("rack.json"));
        env.insert("QUORLINK_STATE_DIR", dir.filePath("state"));
        env.insert("QUORLINK_REPLY_DIR", dir.filePath("reply"));
        env.insert("UFD_STATION_CONF", dir.filePath("station.conf"));
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        env.insert("LANG", c.locale);
        env.insert("LC_ALL", c.locale);
        env.insert("UFD_NOTICE_CHANNEL", "ufd-lang-" + QUuid::createUuid().toString(QUuid::Id128));
        p.setProcessEnvironment(env);
        p.start(dir.filePath("bin/ufd-station"), {"--batch"});
        ASSERT_TRUE(p.waitForFinished(120000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        EXPECT_EQ(p.exitCode(), c.code) << c.language << out.toStdString();
        EXPECT_TRUE(out.section('\n', -1).contains(QString::fromUtf8(c.said)))
            << c.language << ": " << out.toStdString();
    }
}

} // namespace
} // namespace ufd
