#include "platform/notice_channel.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
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

// Each connection is one notice, its bytes exactly, whatever they are, up to
// the cap: a flood is cut. Sent from another thread, as the monitor would.
TEST_F(NoticeChannelTest, EachConnectionArrivesAsOneNoticeByteForByteUpToTheCap) {
    std::vector<QByteArray> texts = {"IN",  QByteArray("IN\0", 3), "",
                                     "OUT", "\x80\xDC\x9F\xFF",    "IN\r\n"};
    for (const qsizetype size : {qsizetype{20000}, qsizetype{1} << 20}) {
        texts.emplace_back(size, 'I');
        for (qsizetype i = 0; i < size; i += 7) {
            texts.back()[i] = static_cast<char>(i % 256);
        }
    }
    NoticeServer server;
    ASSERT_TRUE(server.Listen(Channel()));
    QSignalSpy spy(&server, &NoticeServer::NoticeReceived);
    for (const QByteArray& text : texts) {
        bool sent = false;
        std::thread sender([&] { sent = SendNotice(text, Channel(), 3000); });
        const auto notices = Received(spy, 1);
        sender.join();
        EXPECT_TRUE(sent || text.size() > 64 * 1024);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0], text.left(64 * 1024));
        spy.clear();
    }
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

// A station claims its channel only from a dead one: a live station keeps
// it untouched (no probe reaches it), a stale socket file is replaced.
// Sending fails while nobody listens.
TEST_F(NoticeChannelTest, ClaimTakesOnlyAFreeOrStaleChannel) {
    struct Case {
        const char* name;
        std::function<void()> before;
        ClaimResult result;
    };
    auto first = std::make_unique<NoticeServer>();
    QLocalServer foreign;
    const Case cases[] = {
        {"free", [&] { EXPECT_FALSE(SendNotice("IN", Channel("free"))); }, ClaimResult::Listening},
        {"stale",
         [&] {
             LeaveStaleSocket(Channel("stale"));
             EXPECT_FALSE(SendNotice("IN", Channel("stale")));
         },
         ClaimResult::Listening},
        {"station", [&] { ASSERT_EQ(first->Claim(Channel("station")), ClaimResult::Listening); },
         ClaimResult::Taken},
        {"foreign", [&] { ASSERT_TRUE(foreign.listen(Channel("foreign"))); }, ClaimResult::Taken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        NoticeServer second;
        QSignalSpy firstSpy(first.get(), &NoticeServer::NoticeReceived);
        EXPECT_EQ(second.Claim(Channel(c.name)), c.result);
        if (c.result == ClaimResult::Listening) {
            QSignalSpy spy(&second, &NoticeServer::NoticeReceived);
            ASSERT_TRUE(SendNotice("IN", Channel(c.name)));
            EXPECT_EQ(Received(spy, 1), std::vector<QByteArray>{"IN"});
        }
        QTest::qWait(50);
        EXPECT_EQ(firstSpy.count(), 0) << "the claim must not be a notice to the holder";
    }
    // The holder still listens, and once it is gone the channel is free.
    QSignalSpy spy(first.get(), &NoticeServer::NoticeReceived);
    ASSERT_TRUE(SendNotice("OUT", Channel("station")));
    EXPECT_EQ(Received(spy, 1), std::vector<QByteArray>{"OUT"});
    first.reset();
    EXPECT_FALSE(SendNotice("OUT", Channel("station")));
    EXPECT_FALSE(QFile::exists(Channel("station") + ".lock")) << "a station leaves no lock file";
    EXPECT_EQ(NoticeServer().Claim(Channel("station")), ClaimResult::Listening);
}

// A plain channel name lives in the private runtime directory; one another
// user could have made is refused, naming it, and nothing listens there.
TEST_F(NoticeChannelTest, PlainNamesLiveInThePrivateRuntimeDirectoryOrAreRefused) {
    const QString run = dir_.filePath("run");
    ASSERT_TRUE(QDir().mkpath(run));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(run));
    NoticeServer server;
    ASSERT_EQ(server.Claim("plain"), ClaimResult::Listening);
    EXPECT_EQ(server.Name(), run + "/quorlink/plain");
    EXPECT_EQ(std::filesystem::status((run + "/quorlink").toStdString()).permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    QSignalSpy spy(&server, &NoticeServer::NoticeReceived);
    ASSERT_TRUE(SendNotice("IN", "plain"));
    EXPECT_EQ(Received(spy, 1), std::vector<QByteArray>{"IN"});

    ASSERT_TRUE(QFile::setPermissions(run + "/quorlink", QFileDevice::Permissions(0x7777)));
    NoticeServer refused;
    EXPECT_EQ(refused.Claim("other"), ClaimResult::Failed);
    EXPECT_TRUE(refused.Refusal().contains(run + "/quorlink refused"))
        << qPrintable(refused.Refusal());
    EXPECT_FALSE(refused.Listen("other"));
    EXPECT_FALSE(QFile::exists(run + "/quorlink/other"));
    qunsetenv("XDG_RUNTIME_DIR");
}

// Never deaf: a peer holding hundreds of connections open cannot use up
// the station's descriptors (Qt would close the server for good), and a
// socket file that vanished is listened on again; both are said.
TEST_F(NoticeChannelTest, FloodsAndALostSocketFileNeverLeaveTheChannelDeaf) {
    NoticeServer server;
    ASSERT_TRUE(server.Listen(Channel("flood")));
    QSignalSpy warnings(&server, &NoticeServer::Warning);
    QSignalSpy spy(&server, &NoticeServer::NoticeReceived);
    int go[2];
    int done[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(done), 0);
    const QByteArray path = QFile::encodeName(Channel("flood"));
    const pid_t flooder = fork();
    if (flooder == 0) {
        char c = 0;
        if (::read(go[0], &c, 1) != 1) {
            _exit(1);
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), path.size());
        // As fast as the server takes them, for a second or so.
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        for (int connected = 0, tries = 0; connected < 400 && tries < 20000; ++tries) {
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                ++connected;
                fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
            } else {
                ::usleep(50);
            }
        }
        // Holds every connection until told to go.
        [[maybe_unused]] const ssize_t n = ::read(done[0], &c, 1);
        _exit(0);
    }
    // Room for a hundred more descriptors than the test already has.
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    const int used = static_cast<int>(QDir("/proc/self/fd").entryList(QDir::Files).size());
    rlimit tight = before;
    tight.rlim_cur = static_cast<rlim_t>(used + 100);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    // Refused while the flood holds the cap, then heard once its idle
    // connections are cut off, as Vasket's retries would be.
    const auto heard = [&] {
        SendNotice("IN", Channel("flood"), 300);
        QTest::qWait(100);
        return std::any_of(spy.begin(), spy.end(),
                           [](const QList<QVariant>& a) { return a.at(0).toByteArray() == "IN"; });
    };
    EXPECT_TRUE(QTest::qWaitFor(heard, 10000)) << "the channel went deaf";

    ASSERT_EQ(::write(done[1], "x", 1), 1);
    ::waitpid(flooder, nullptr, 0);
    ::setrlimit(RLIMIT_NOFILE, &before);
    for (int fd : {go[0], go[1], done[0], done[1]}) {
        ::close(fd);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return warnings.count() > 0; }, 3000));
    EXPECT_TRUE(warnings.at(0).at(0).toString().contains("refused"))
        << qPrintable(warnings.at(0).at(0).toString());

    ASSERT_TRUE(QFile::remove(Channel("flood")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return SendNotice("OUT", Channel("flood"), 300); }, 5000));
    EXPECT_TRUE(warnings.back().at(0).toString().contains("was removed; listening again"));
}

} // namespace
} // namespace ufd
