// How Vasket tells whether its station is there, and the delivery that
// names the station's process.
#include "monitor/notice_delivery.h"
#include "monitor/station_presence.h"

#include "platform/notice_channel.h"

#include <QCoreApplication>
#include <QUuid>

#include <gtest/gtest.h>

namespace ufd {
namespace {

using std::chrono::milliseconds;

QString UniqueChannel() {
    return QStringLiteral("ufd-monitor-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

TEST(StationPresence, SeesARealNoticeServerComeAndGo) {
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
    // A station listening again makes a new file, which counts. The older
    // server stays bound, so its inode cannot be handed out again.
    NoticeServer again;
    ASSERT_TRUE(again.Listen(channel));
    const auto refused = ChannelSocketFile(channel);
    NoticeServer third;
    ASSERT_TRUE(third.Listen(channel));
    EXPECT_TRUE(ChannelLooksListening(ChannelSocketFile(channel), refused));
}

TEST(StationPresence, ProcessIdsAndTheGracePeriod) {
    EXPECT_EQ(ParseProcessId(" 17\n"), 17);
    for (const char* bad : {"", "0", "-5", "12x", "99999999999999999999", "1.5"}) {
        EXPECT_FALSE(ParseProcessId(bad)) << bad;
    }
    OrphanRule rule(milliseconds(50000));
    const OrphanRule::Clock::time_point t0{};
    rule.Observe(true, t0);
    EXPECT_FALSE(rule.Orphaned(t0 + milliseconds(120000)));
    rule.Observe(false, t0 + milliseconds(1000));
    rule.Observe(false, t0 + milliseconds(30000));
    EXPECT_FALSE(rule.Orphaned(t0 + milliseconds(50999)));
    // A listener seen in between starts the count again.
    rule.Observe(true, t0 + milliseconds(40000));
    rule.Observe(false, t0 + milliseconds(50000));
    EXPECT_FALSE(rule.Orphaned(t0 + milliseconds(99999)));
    EXPECT_TRUE(rule.Orphaned(t0 + milliseconds(100000)));
}

// The bytes themselves are the Vasket test's: it reads them off a real server.
TEST(NoticeDelivery, NamesTheListenersProcess) {
    const QString channel = UniqueChannel();
    EXPECT_FALSE(DeliverNotice("IN", channel, 500).delivered) << "nobody listens yet";
    NoticeServer server;
    ASSERT_TRUE(server.Listen(channel));
    const Delivery delivery = DeliverNotice("OUT", channel, 2000);
    EXPECT_TRUE(delivery.delivered);
    EXPECT_EQ(delivery.listener, QCoreApplication::applicationPid());
}

} // namespace
} // namespace ufd
