// The real ufd-station in --batch mode on a full rack of sixteen drives: the
// rows it prints are the rows [Window] Rows puts on the window.
#include "support/sim_rack.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUuid>

#include <map>

namespace {

TEST(RowsEndToEnd, BatchPrintsTheRowsTheWindowShows) {
    ufd::test::SimRack& rack = ufd::test::SimRack::Shared("sixteen.json");
    const QString bin = rack.Path("bin/");
    QDir().mkpath(bin);
    for (const QString name : {"ufd-station", "Vasket", "libquorlink.so"}) {
        ASSERT_TRUE(QFile::copy(UFD_BIN_DIR "/" + name, bin + name));
    }
    ASSERT_TRUE(QFile::copy(UFD_SOURCE_DIR "/examples/Product.ini", bin + "Product.ini"));
    QFile conf(rack.Path("station.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[Window]\nRows=16\n");
    conf.close();

    // Rows of the report: slot -> the "Row" cell.
    struct Case {
        bool sixteen;
        std::map<int, QString> rows;
    };
    Case cases[] = {{true, {}}, {false, {}}};
    for (int slot = 1; slot <= 16; ++slot) {
        cases[0].rows[slot] = QString("Disk %1").arg(slot - 1);
        cases[1].rows[slot] = slot <= 7   ? QString("Disk %1").arg(slot - 1)
                              : slot == 8 ? QString("(hidden row)")
                                          : QString("(no row)");
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sixteen);
        rack.Reset();
        qputenv("UFD_NOTICE_CHANNEL", "ufd-rows-" + QUuid::createUuid().toByteArray(QUuid::Id128));
        if (c.sixteen) {
            qputenv("UFD_STATION_CONF", QFile::encodeName(conf.fileName()));
        } else {
            qunsetenv("UFD_STATION_CONF"); // none beside the program: the design's seven
        }
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(bin + "ufd-station", {"--batch"});
        ASSERT_TRUE(p.waitForFinished(120000));
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        EXPECT_EQ(p.exitCode(), 1) << out.toStdString(); // drives 5, 6, 12, 13 fail
        std::map<int, QString> rows;
        for (const QString& line : out.split('\n')) {
            if (!line.isEmpty() && line[0].isDigit()) {
                const QStringList cells = line.split("  ", Qt::SkipEmptyParts);
                rows[cells[0].trimmed().toInt()] = cells[1].trimmed();
            }
        }
        EXPECT_EQ(rows, c.rows) << out.toStdString();
    }
}

} // namespace
