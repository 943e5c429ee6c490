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
               .toStdString() +
           QString(" | media %1 %2 %3 %4 %5")
               .arg(s.MediaProbe)
               .arg(s.MediaVerify)
               .arg(s.MediaSurface)
               .arg(s.MinWriteMBps)
               .arg(s.MinReadMBps)
               .toStdString() +
           QString(" | scan %1 %2 %3 %4 %5, drop %6, language %7")
               .arg(QString::number(s.ScanEnabled), s.ScanOperatorPrefix, s.ScanLotPrefix,
                    s.ScanStartCode, QString::number(s.ScanKeyGapMs), s.DropFolder, s.Language)
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
    EXPECT_EQ(Seen(LoadStationSettings(Dir())),
              "fs 0, parallel 0, rows 7, db , id , from : ok | media 0 0 0 0 0 | scan 0    30, "
              "drop , language ");
    const QString file = Write(
        "station.conf",
        "[Volume]\nLargeFileSystem=exFAT\n[Run]\nParallel=true   ; all at once\n"
        "[Window]\nRows=16\t# a line of 16\nRowPerSocket=true\nVerdictColours=yes\nLanguage=zh_CN\n"
        "[Sockets]\n16=B 8\n1=A1\n"
        "[Results]\nDatabase=postgresql://line@db/ufd\nStationId=\"line-3 ;x\" ;\n"
        "[MediaTest]\nProbe=true\nVerify=on\nSurface=100\nMinWriteMBps=7.5\nMinReadMBps=20\n"
        "[Scan]\nEnabled=true\nOperatorPrefix=OP:\nLotPrefix=LOT:\nStartCode=*GO*\nKeyGapMs=40\n"
        "[Records]\nDropFolder=/srv/mes drop\n");
    const SettingsResult read = LoadStationSettings(Dir());
    EXPECT_EQ(Seen(read),
              "fs 2, parallel 1, rows 16, db postgresql://line@db/ufd, id line-3 ;x, from " +
                  file.toStdString() +
                  ": ok | media 1 1 100 7.5 20 | scan 1 OP: LOT: *GO* 40, drop /srv/mes drop, "
                  "language zh_CN");
    EXPECT_EQ(
        std::tuple(read.settings.RowPerSocket, read.settings.VerdictColours, read.settings.Sockets),
        std::tuple(true, true, std::map<int, QString>{{1, "A1"}, {16, "B 8"}}));
    // A file named in the environment comes first and must exist.
    qputenv("UFD_STATION_CONF", (Dir() + "gone.conf").toLocal8Bit());
    EXPECT_TRUE(LoadStationSettings(Dir()).error.value_or("").contains("gone.conf"));
    qunsetenv("UFD_STATION_CONF");
}

// Each bad value or line is refused with the file, the key and the value
// named. Files refused unread are the program's own tests.
TEST_F(StationConf, BadValuesNameFileKeyAndValue) {
    // clang-format off
    using namespace std::string_view_literals; // keeps a NUL inside a row
    const std::pair<std::string_view, const char*> rows[] = {
        {"[Volume]\nLargeFileSystem=ntfs\n", "[Volume] LargeFileSystem: \"ntfs\": must be auto"},
        {"[Run]\nParallel=maybe\n", "[Run] Parallel: \"maybe\": must be true or false"},
        {"[Window]\nRows=6\n", "[Window] Rows: \"6\": must be"},
        {"[Window]\nRows=17\n", "[Window] Rows: \"17\""},
        {"[Window]\n  Rows = \"8x\"\r\n", "[Window] Rows: \"8x\""},
        {"[Run]\nParalel=true\n", "[Run] Paralel: \"true\": unknown key"},
        {"[Runs]\nParallel=true\n", "[Runs] Parallel: \"true\": unknown section"},
        {"[Window]\nRowPerSocket=2\n", "[Window] RowPerSocket: \"2\": must be true or false"},
        {"[Sockets]\n17=A1\n", "[Sockets] 17: \"A1\": is no drive index"},
        {"[Sockets]\n3=\n", "[Sockets] 3: \"\": must name the socket"},
        {"[Sockets]\n16=B\n2=A\n03=B\n", "[Sockets] 03: \"B\": is socket 16's label already: sockets 16 and 3"},
        {"Parallel=true\n", "Parallel: \"true\": outside any section"},
        {"[Run]\nParallel\n", "line 2: neither a comment"},
        {"[Run\nParallel=true\n", "line 1: not a [Section] line"},
        {"[Run]\n=true\n", "line 2: a value without a key"},
        {"[Results]\nStationId=a\x1b[2Jb\n", "line 2: holds a control character (byte 27)"},
        {"[Run]\nParallel=true\0\n"sv, "line 2: holds a control character (byte 0)"},
        {"[MediaTest]\nProbe=sometimes\n", "[MediaTest] Probe: \"sometimes\""},
        {"[MediaTest]\nSurface=101\n", "[MediaTest] Surface: \"101\""},
        {"[MediaTest]\nSurface=-1\n", "[MediaTest] Surface: \"-1\""},
        {"[MediaTest]\nMinWriteMBps=-2\n", "[MediaTest] MinWriteMBps: \"-2\""},
        {"[MediaTest]\nMinReadMBps=fast\n", "[MediaTest] MinReadMBps: \"fast\""},
        {"[Scan]\nEnabled=true\n", "[Scan] Enabled: \"true\": needs OperatorPrefix, LotPrefix"},
        {"[Scan]\nEnabled=1\nOperatorPrefix=#\nLotPrefix=#L\n",
         "[Scan] Enabled: \"1\": OperatorPrefix begins LotPrefix"},
        {"[Window]\nLanguage=de\n", "[Window] Language: \"de\": must be one of en, zh_CN, or empty"},
        {"[Scan]\nKeyGapMs=500\n", "[Scan] KeyGapMs: \"500\": must be a whole number"},
        {"[Serve]\nKeyFile=serve.key\n", "[Serve] KeyFile: \"serve.key\": must be an absolute path"}};
    // clang-format on
    int n = 0;
    for (const auto& [text, mention] : rows) {
        const QString path =
            Write(QString("bad%1.conf").arg(n++), QByteArray(text.data(), qsizetype(text.size())));
        const QString error = ReadStationSettings(path).error.value_or("no error");
        EXPECT_TRUE(error.startsWith(path + ": ") && error.contains(mention))
            << error.toStdString();
    }
}

} // namespace
} // namespace ufd
