// The real ufd-station binary in --batch mode with the sample product on a
// 64 GB and a 16 GB simulated drive: both pass, and the system's own tools
// accept the FAT32 volumes left on them.
#include "support/sim_rack.h"
#include "support/tool_run.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QUuid>

namespace {

using ufd::test::RunTool;

TEST(LargeDrives, SampleProductPassesAndToolsAgree) {
    for (const char* tool : {"sfdisk", "fsck.fat", "blkid"}) {
        if (ufd::test::FindTool(tool).isEmpty()) {
            GTEST_SKIP() << tool << " is not installed";
        }
    }
    auto& rack = ufd::test::SimRack::Shared("large.json", false);
    rack.Reset();
    QDir().mkpath(rack.Path("bin"));
    for (const QString name : {"ufd-station", "Vasket", "libquorlink.so"}) {
        ASSERT_TRUE(QFile::copy(UFD_BIN_DIR "/" + name, rack.Path("bin/" + name)));
    }
    ASSERT_TRUE(QFile::copy(UFD_SOURCE_DIR "/examples/Product.ini", rack.Path("bin/Product.ini")));
    qputenv("UFD_NOTICE_CHANNEL", "ufd-e2e-" + QUuid::createUuid().toByteArray(QUuid::Id128));

    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(rack.Path("bin/ufd-station"), {"--batch"});
    ASSERT_TRUE(p.waitForFinished(120000)) << "station did not finish";
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("Verdict: ! ALL PASS !")) << out.toStdString();
    // The true size of each drive, in the station's own megabytes.
    EXPECT_TRUE(out.contains("2 Chip(s)   62500 MB")) << out.toStdString();
    EXPECT_TRUE(out.contains("2 Chip(s)   15625 MB")) << out.toStdString();

    for (const int drive : {1, 2}) {
        SCOPED_TRACE(drive);
        const QString image = rack.Path(QString("state/drive-%1/image.img").arg(drive));
        const auto verify = RunTool("sfdisk", {"-V", image});
        EXPECT_TRUE(verify.output.contains("No errors detected.")) << verify.output.toStdString();
        static const QRegularExpression line(
            R"(^\S*?(\d+) : start=\s*(\d+), size=\s*(\d+), type=(\w+))",
            QRegularExpression::MultilineOption);
        QStringList types;
        for (auto it = line.globalMatch(RunTool("sfdisk", {"-d", image}).output); it.hasNext();) {
            const auto m = it.next();
            types << m.captured(4);
            if (m.captured(4) == "5") {
                continue; // the extended partition
            }
            const QString part = rack.Path("part.img");
            ASSERT_TRUE(ufd::test::CopyPartition(image, m.captured(2).toLongLong(),
                                                 m.captured(3).toLongLong(), part));
            const auto fsck = RunTool("fsck.fat", {"-n", part});
            EXPECT_EQ(fsck.exitCode, 0) << fsck.output.toStdString();
            EXPECT_EQ(fsck.output.count('\n'), 2) << fsck.output.toStdString(); // no remark
            const auto blkid = RunTool("blkid", {"-p", part});
            EXPECT_TRUE(blkid.output.contains(R"(LABEL="UFDDISK")")) << blkid.output.toStdString();
            EXPECT_TRUE(blkid.output.contains(R"(VERSION="FAT32")")) << blkid.output.toStdString();
        }
        EXPECT_EQ(types, QStringList({"c", "5", "c"}));
    }
}

} // namespace
