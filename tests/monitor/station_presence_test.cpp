#include "monitor/station_presence.h"

#include "platform/notice_channel.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

namespace ufd {
namespace {

using std::chrono::milliseconds;

QString UniqueChannel() {
    return QStringLiteral("ufd-monitor-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

TEST(SocketTable, SocketPathIsWhereTheLocalServerPutsIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QString& name : {UniqueChannel(), dir.filePath(QStringLiteral("chan"))}) {
        QLocalServer server;
        ASSERT_TRUE(server.listen(name)) << qPrintable(server.errorString());
        EXPECT_EQ(ChannelSocketPath(name), server.fullServerName());
    }
}

TEST(SocketTable, SeesARealNoticeServerComeAndGo) {
    const QString channel = UniqueChannel();
    EXPECT_FALSE(ChannelSocketFile(channel));
    std::optional<SocketFileIdentity> first;
    {
        NoticeServer server;
        ASSERT_TRUE(server.Listen(channel));
        first = ChannelSocketFile(channel);
        ASSERT_TRUE(first);
        EXPECT_TRUE(ChannelLooksListening(first, std::nullopt));
        // The file that refused a notice is not trusted again...
        EXPECT_FALSE(ChannelLooksListening(first, first));
    }
    // ...and a station that closed its channel took the file with it.
    EXPECT_FALSE(ChannelSocketFile(channel));
    EXPECT_FALSE(ChannelLooksListening(std::nullopt, std::nullopt));

    // A station starting again on the same name makes a new file, which
    // counts even though the old one refused. The old server stays bound
    // here, so its file's inode cannot be handed out again.
    NoticeServer again;
    ASSERT_TRUE(again.Listen(channel));
    const auto second = ChannelSocketFile(channel);
    ASSERT_TRUE(second);
    NoticeServer third;
    ASSERT_TRUE(third.Listen(channel));
    const auto replaced = ChannelSocketFile(channel);
    ASSERT_TRUE(replaced);
    EXPECT_NE(*replaced, *second) << "listening again must make a new socket file";
    EXPECT_TRUE(ChannelLooksListening(replaced, second));
}

TEST(ProcessId, ParsesOnlyPlausibleIds) {
    EXPECT_EQ(ParseProcessId("4242"), 4242);
    EXPECT_EQ(ParseProcessId(" 17\n"), 17);
    for (const char* bad : {"", "0", "-5", "12x", "x12", "99999999999999999999", "1.5"}) {
        EXPECT_FALSE(ParseProcessId(bad)) << bad;
    }
}

TEST(OrphanRule, NeedsTheWholeGracePeriodWithoutAListener) {
    OrphanRule rule(milliseconds(60000));
    const OrphanRule::Clock::time_point t0{};
    rule.Observe(true, t0);
    EXPECT_FALSE(rule.Orphaned(t0 + milliseconds(120000)));
    rule.Observe(false, t0 + milliseconds(1000));
    rule.Observe(false, t0 + milliseconds(30000));
    EXPECT_FALSE(rule.Orphaned(t0 + milliseconds(60999)));
    // A listener seen in between starts the count again.
    rule.Observe(true, t0 + milliseconds(40000));
    rule.Observe(false, t0 + milliseconds(50000));
    EXPECT_FALSE(rule.Orphaned(t0 + milliseconds(109999)));
    EXPECT_TRUE(rule.Orphaned(t0 + milliseconds(110000)));
}

TEST(ProcessWatch, SignalsWhenTheProcessEnds) {
    QProcess station;
    station.start(QStringLiteral("sleep"), {QStringLiteral("600")});
    ASSERT_TRUE(station.waitForStarted());
    ProcessWatch watch(static_cast<pid_t>(station.processId()));
    QSignalSpy ended(&watch, &ProcessWatch::Ended);
    EXPECT_TRUE(watch.Alive());
    QCoreApplication::processEvents();
    EXPECT_EQ(ended.count(), 0);
    station.kill();
    ASSERT_TRUE(station.waitForFinished());
    EXPECT_TRUE(ended.wait(5000) || ended.count() == 1);
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(watch.Alive());
}

TEST(ProcessWatch, AProcessAlreadyGoneEndsAtOnce) {
    QProcess station;
    station.start(QStringLiteral("true"));
    ASSERT_TRUE(station.waitForStarted());
    const auto pid = static_cast<pid_t>(station.processId());
    ASSERT_TRUE(station.waitForFinished());
    ProcessWatch watch(pid);
    QSignalSpy ended(&watch, &ProcessWatch::Ended);
    EXPECT_TRUE(ended.wait(5000) || ended.count() == 1);
    EXPECT_FALSE(watch.Alive());
}

} // namespace
} // namespace ufd
