// station.conf: the original behaviour without one, every key, the lookup
// order, and bad values named with file, key and value.
#include "support/test_common.h"

#include "settings/station_settings.h"

#include <QFile>
#include <QTemporaryDir>

namespace ufd {
namespace {

std::string Seen(const SettingsResult& r) {
    const StationSettings& s = r.settings;
    return QString("fs %1, parallel %2, rows %3, db %4, id %5, from %6: %7")
        .arg(QString::number(int(s.LargeFs)), QString::number(s.Parallel),
             QString::number(s.WindowRows), s.Database, s.StationId, s.Source,
             r.error.value_or("ok"))
        .toStdString();
}

class StationConf : public ::testing::Test {
protected:
    QString Write(const QString& name, const QByteArray& text) {
        QFile f(dir_.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
        return f.fileName();
    }
    QString Dir() const { return dir_.path() + '/'; }
    QTemporaryDir dir_;
};

TEST_F(StationConf, AbsentFileKeepsTheOriginalBehaviourEveryKeyIsReadAndTheLookupOrder) {
    qunsetenv("UFD_STATION_CONF");
    EXPECT_EQ(Seen(LoadStationSettings(Dir())), "fs 0, parallel 0, rows 7, db , id , from : ok");
    const QString file =
        Write("station.conf",
              "[Volume]\nLargeFileSystem=exFAT\n[Run]\nParallel=true\n"
              "[Window]\nRows=16\nRowPerSocket=true\nVerdictColours=yes\n[Sockets]\n16=B 8\n1=A1\n"
              "[Results]\nDatabase=postgresql://line@db/ufd\nStationId=line-3\n");
    const SettingsResult read = LoadStationSettings(Dir());
    EXPECT_EQ(Seen(read),
              "fs 2, parallel 1, rows 16, db postgresql://line@db/ufd, id line-3, from " +
                  file.toStdString() + ": ok");
    EXPECT_EQ(
        std::tuple(read.settings.RowPerSocket, read.settings.VerdictColours, read.settings.Sockets),
        std::tuple(true, true, std::map<int, QString>{{1, "A1"}, {16, "B 8"}}));
    // A file named in the environment comes first and must exist.
    qputenv("UFD_STATION_CONF", (Dir() + "gone.conf").toLocal8Bit());
    EXPECT_TRUE(LoadStationSettings(Dir()).error.value_or("").contains("gone.conf"));
    qunsetenv("UFD_STATION_CONF");
}

// Each bad value is refused with the file, the key and the value named.
TEST_F(StationConf, BadValuesNameFileKeyAndValue) {
    // clang-format off
    const std::pair<const char*, const char*> rows[] = {
        {"[Volume]\nLargeFileSystem=ntfs\n", "LargeFileSystem = \"ntfs\""},
        {"[Run]\nParallel=maybe\n", "Parallel = \"maybe\""},
        {"[Window]\nRows=6\n", "Rows = \"6\""},
        {"[Window]\nRows=17\n", "Rows = \"17\""},
        {"[Window]\nRows=8x\n", "Rows = \"8x\""},
        {"[Run]\nParalel=true\n", "unknown key \"Run/Paralel\""},
        {"[Window]\nRowPerSocket=2\n", "RowPerSocket = \"2\""},
        {"[Sockets]\n17=A1\n", "[Sockets] 17 = \"A1\" is no drive index"},
        {"[Sockets]\n3=\n", "[Sockets] 3 = \"\" must name the socket"},
        {nullptr, "not a readable regular file"}}; // nullptr: a directory
    // clang-format on
    int n = 0;
    for (const auto& [text, mention] : rows) {
        // A file of its own per row: QSettings caches a file it has read.
        const QString name = QString("bad%1.conf").arg(n++), path = dir_.filePath(name);
        EXPECT_TRUE(text ? Write(name, text) == path : QDir().mkdir(path));
        const QString error = ReadStationSettings(path).error.value_or("no error");
        EXPECT_TRUE(error.startsWith(path) && error.contains(mention)) << error.toStdString();
    }
}

} // namespace
} // namespace ufd
