#include "settings/station_settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace ufd {
namespace {

class StationConf : public ::testing::Test {
protected:
    QString Write(const QByteArray& text, const QString& name = QStringLiteral("station.conf")) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return path;
    }
    QString Dir() const { return dir_.path() + QLatin1Char('/'); }
    QTemporaryDir dir_;
};

// Without a file, the original behaviour; with one, every key is read.
TEST_F(StationConf, AbsentFileKeepsTheOriginalBehaviourAndEveryKeyIsRead) {
    qunsetenv("UFD_STATION_CONF");
    const SettingsResult absent = LoadStationSettings(Dir());
    ASSERT_FALSE(absent.error);
    EXPECT_EQ(absent.settings.LargeFs, LargeFileSystem::Auto);
    EXPECT_FALSE(absent.settings.Parallel);
    EXPECT_EQ(absent.settings.WindowRows, 7);
    EXPECT_TRUE(absent.settings.Database.isEmpty());
    EXPECT_TRUE(absent.settings.Source.isEmpty());

    Write("[Volume]\nLargeFileSystem=exFAT\n[Run]\nParallel=true\n[Window]\nRows=16\n"
          "[Results]\nDatabase=postgresql://line@db/ufd\nStationId=line-3\n");
    const SettingsResult r = LoadStationSettings(Dir());
    ASSERT_FALSE(r.error) << r.error->toStdString();
    EXPECT_EQ(r.settings.LargeFs, LargeFileSystem::Exfat);
    EXPECT_TRUE(r.settings.Parallel);
    EXPECT_EQ(r.settings.WindowRows, 16);
    EXPECT_EQ(r.settings.Database, QStringLiteral("postgresql://line@db/ufd"));
    EXPECT_EQ(r.settings.StationId, QStringLiteral("line-3"));
    EXPECT_EQ(r.settings.Source, Dir() + QStringLiteral("station.conf"));
}

// Each bad value is refused with the file, the key and the value named.
TEST_F(StationConf, BadValuesNameFileKeyAndValue) {
    const struct {
        const char* text;
        const char* mustMention;
    } rows[] = {
        {"[Volume]\nLargeFileSystem=ntfs\n", "LargeFileSystem = \"ntfs\""},
        {"[Run]\nParallel=maybe\n", "Parallel = \"maybe\""},
        {"[Window]\nRows=6\n", "Rows = \"6\""},
        {"[Window]\nRows=17\n", "Rows = \"17\""},
        {"[Window]\nRows=8x\n", "Rows = \"8x\""},
        {"[Run]\nParalel=true\n", "unknown key \"Run/Paralel\""},
        {"[Sound]\nBeep=loud\n", "unknown key \"Sound/Beep\""},
        {nullptr, "not a readable regular file"}, // a directory
    };
    int n = 0;
    for (const auto& row : rows) {
        // A file of its own per row: QSettings caches a file it has read.
        const QString name = QStringLiteral("bad%1.conf").arg(n++);
        const QString path = row.text ? Write(row.text, name) : dir_.filePath(name);
        if (!row.text) {
            ASSERT_TRUE(QDir(dir_.path()).mkdir(name));
        }
        const SettingsResult r = ReadStationSettings(path);
        ASSERT_TRUE(r.error) << path.toStdString();
        EXPECT_TRUE(r.error->startsWith(path)) << r.error->toStdString();
        EXPECT_TRUE(r.error->contains(QString::fromUtf8(row.mustMention)))
            << r.error->toStdString();
    }
}

TEST_F(StationConf, LookupOrderAndNamedFileMustExist) {
    const QString beside = Write("[Window]\nRows=9\n");
    qunsetenv("UFD_STATION_CONF");
    EXPECT_EQ(FindStationConf(Dir()), beside);

    const QString other = Write("[Window]\nRows=12\n", QStringLiteral("other.conf"));
    qputenv("UFD_STATION_CONF", other.toLocal8Bit());
    EXPECT_EQ(LoadStationSettings(Dir()).settings.WindowRows, 12);

    qputenv("UFD_STATION_CONF", (Dir() + QStringLiteral("gone.conf")).toLocal8Bit());
    const SettingsResult r = LoadStationSettings(Dir());
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(r.error->contains(QStringLiteral("gone.conf")));
    qunsetenv("UFD_STATION_CONF");
}

} // namespace
} // namespace ufd
