#include "platform/notice_channel.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace ufd {
namespace {

class NoticeChannelTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    // Socket paths inside the test's own directory keep parallel runs apart.
    QString Channel(const char* name = "notices") const { return dir_.filePath(name); }

    // Every notice the server delivered, waiting until `count` arrived.
    static std::vector<QByteArray> Received(QSignalSpy& spy, int count) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return spy.count() >= count; }, 10000));
        std::vector<QByteArray> notices;
        for (const auto& args : spy) {
            notices.push_back(args.at(0).toByteArray());
        }
        return notices;
    }

    QTemporaryDir dir_;
};

struct NoticeCase {
    const char* name;
    QByteArray bytes;
};

void PrintTo(const NoticeCase& c, std::ostream* os) {
    *os << c.name;
}

class NoticeRoundTrip : public NoticeChannelTest,
                        public ::testing::WithParamInterface<NoticeCase> {};

TEST_P(NoticeRoundTrip, ArrivesByteForByte) {
    NoticeServer server;
    ASSERT_TRUE(server.Listen(Channel()));
    QSignalSpy spy(&server, &NoticeServer::NoticeReceived);
    ASSERT_TRUE(SendNotice(GetParam().bytes, Channel()));
    EXPECT_EQ(Received(spy, 1), std::vector<QByteArray>{GetParam().bytes});
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NoticeRoundTrip,
    ::testing::Values(NoticeCase{"In", QByteArray("IN")},
                      NoticeCase{"InWithTerminator", QByteArray("IN\0", 3)},
                      NoticeCase{"Empty", QByteArray("")}, NoticeCase{"Out", QByteArray("OUT")},
                      NoticeCase{"Windows1252", QByteArray("\x80\xDC\x9F\xFF")},
                      NoticeCase{"LineEnds", QByteArray("IN\r\n")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NoticeChannelTest, EachConnectionIsOneNotice) {
    NoticeServer server;
    ASSERT_TRUE(server.Listen(Channel()));
    QSignalSpy spy(&server, &NoticeServer::NoticeReceived);
    ASSERT_TRUE(SendNotice("IN", Channel()));
    ASSERT_TRUE(SendNotice("OUT", Channel()));
    auto notices = Received(spy, 2);
    std::sort(notices.begin(), notices.end());
    EXPECT_EQ(notices, (std::vector<QByteArray>{"IN", "OUT"}));
}

TEST_F(NoticeChannelTest, LongNoticeFromAnotherProcessThreadArrivesWhole) {
    NoticeServer server;
    ASSERT_TRUE(server.Listen(Channel()));
    QSignalSpy spy(&server, &NoticeServer::NoticeReceived);
    QByteArray text;
    for (int i = 0; i < 20000; ++i) {
        text.append(static_cast<char>(i % 256));
    }
    bool sent = false;
    std::thread sender([&] { sent = SendNotice(text, Channel(), 10000); });
    const auto notices = Received(spy, 1);
    sender.join();
    EXPECT_TRUE(sent);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], text);
}

TEST_F(NoticeChannelTest, FloodIsCutAndStillCountsAsANotice) {
    NoticeServer server;
    ASSERT_TRUE(server.Listen(Channel()));
    QSignalSpy spy(&server, &NoticeServer::NoticeReceived);
    const QByteArray flood(1 << 20, 'I');
    std::thread sender([&] { SendNotice(flood, Channel(), 3000); });
    const auto notices = Received(spy, 1);
    sender.join();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].size(), 64 * 1024);
    EXPECT_TRUE(flood.startsWith(notices[0]));
}

TEST_F(NoticeChannelTest, PeerThatStaysConnectedIsDroppedWithWhatItSent) {
    NoticeServer server;
    ASSERT_TRUE(server.Listen(Channel()));
    QSignalSpy spy(&server, &NoticeServer::NoticeReceived);
    QLocalSocket peer;
    peer.connectToServer(Channel());
    ASSERT_TRUE(peer.waitForConnected(1000));
    peer.write("IN");
    ASSERT_TRUE(peer.waitForBytesWritten(1000));
    EXPECT_EQ(Received(spy, 1), std::vector<QByteArray>{"IN"});
    // The server hung up on it.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return peer.state() == QLocalSocket::UnconnectedState; }, 10000));
}

// A socket file left behind by a station that died: bound, never listened.
void LeaveStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = path.toLocal8Bit();
    ASSERT_LT(static_cast<size_t>(native.size()), sizeof(address.sun_path));
    std::copy(native.begin(), native.end(), address.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

TEST_F(NoticeChannelTest, StaleSocketOfADeadStationIsReplaced) {
    LeaveStaleSocket(Channel());
    {
        QLocalServer plain; // what listening without clearing would meet
        EXPECT_FALSE(plain.listen(Channel()));
        EXPECT_EQ(plain.serverError(), QAbstractSocket::AddressInUseError);
    }
    NoticeServer server;
    ASSERT_TRUE(server.Listen(Channel()));
    QSignalSpy spy(&server, &NoticeServer::NoticeReceived);
    ASSERT_TRUE(SendNotice("IN", Channel()));
    EXPECT_EQ(Received(spy, 1), std::vector<QByteArray>{"IN"});
}

TEST_F(NoticeChannelTest, SendingWithoutAServerFails) {
    EXPECT_FALSE(SendNotice("IN", Channel("nobody")));
    LeaveStaleSocket(Channel("dead"));
    EXPECT_FALSE(SendNotice("IN", Channel("dead")));
    {
        NoticeServer gone;
        ASSERT_TRUE(gone.Listen(Channel("gone")));
    }
    EXPECT_FALSE(SendNotice("OUT", Channel("gone")));
}

TEST_F(NoticeChannelTest, ServerReportsItsName) {
    NoticeServer server;
    ASSERT_TRUE(server.Listen(Channel()));
    EXPECT_EQ(server.Name(), Channel());
}

TEST(NoticeChannelName, EnvironmentElsePerUser) {
    const QByteArray saved = qgetenv("UFD_NOTICE_CHANNEL");
    qputenv("UFD_NOTICE_CHANNEL", "bench-7");
    EXPECT_EQ(NoticeChannelName(), "bench-7");
    qunsetenv("UFD_NOTICE_CHANNEL");
    EXPECT_EQ(NoticeChannelName(), QString("ufd-station-%1").arg(::getuid()));
    qputenv("UFD_NOTICE_CHANNEL", "");
    EXPECT_EQ(NoticeChannelName(), QString("ufd-station-%1").arg(::getuid()));
    if (!saved.isNull()) {
        qputenv("UFD_NOTICE_CHANNEL", saved);
    } else {
        qunsetenv("UFD_NOTICE_CHANNEL");
    }
}

} // namespace
} // namespace ufd
