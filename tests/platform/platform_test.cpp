// The desktop's services with a real QApplication on the offscreen platform:
// message boxes, starting the monitor, the beep, and the notice channel over
// real local sockets.
#include "support/test_common.h"

#include "platform/beep.h"
#include "platform/message_box.h"
#include "platform/notice_channel.h"
#include "platform/start_hidden.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <ranges>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace ufd {
namespace {

// Without a window manager nothing else places the box: it must itself sit
// centred over the station window, not wherever the screen's corner is.
TEST(RealMessageBox, IconButtonsDefaultTitleAnswerAndPlace) {
    using B = QMessageBox;
    using Shown = std::tuple<B::Icon, B::StandardButtons, B::StandardButton, std::string, int>;
    QWidget window;
    window.setGeometry(300, 200, 663, 513);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // clang-format off
    const std::tuple<int, std::optional<QString>, B::StandardButton, Shown> cases[] = {
        {kStyleStop, QString("UFD"), B::Ok, {B::Critical, B::Ok, B::Ok, "UFD", kAnswerOk}},
        {kStyleExclamation, QString("Items"), B::Ok, {B::Warning, B::Ok, B::Ok, "Items", kAnswerOk}},
        {kStyleYesNoInfo, QString("Clear"), B::Yes, {B::Information, B::Yes | B::No, B::No, "Clear", kAnswerYes}},
        {kStyleYesNoInfo, std::nullopt, B::NoButton, {B::Information, B::Yes | B::No, B::No, "Station Under Test", kAnswerNo}},
    }; // NoButton: Escape
    // clang-format on
    for (const auto& [style, title, press, want] : cases) {
        SCOPED_TRACE(style);
        Shown shown;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) {
                return;
            }
            poll.stop();
            EXPECT_EQ(
                std::tuple(box->text(), box->parentWidget(), box->windowModality()),
                std::tuple(QString("Message for the operator"), &window, Qt::ApplicationModal));
            const QPoint offset = box->frameGeometry().center() - window.frameGeometry().center();
            EXPECT_LE(offset.manhattanLength(), 4) << offset.x() << "," << offset.y();
            shown = {box->icon(), box->standardButtons(), box->standardButton(box->defaultButton()),
                     box->windowTitle().toStdString(), 0};
            press == B::NoButton ? QTest::keyClick(box, Qt::Key_Escape)
                                 : box->button(press)->click();
        });
        poll.start(10);
        std::get<4>(shown) = ShowMessageBox("Message for the operator", style, title, &window);
        EXPECT_EQ(shown, want);
    }
}

// The script's mark names its argument count, what it read (stdin is
// /dev/null: nothing, no hang) and whether its output is a terminal. A program that
// cannot start gives a result below 32.
TEST(StartHidden, StartsWithoutArgumentsOrTerminalAndSaysWhyNot) {
    QTemporaryDir dir;
    const auto make = [&](const QString& name, const QString& content, bool executable) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content.toUtf8()) > 0);
        file.setPermissions(QFile::Permissions(executable ? 0x7000 : 0x6000)); // rwx or rw-
        return file.fileName();
    };
    const char* script = "#!/bin/sh\nt=none; [ -t 1 ] && t=tty\ntouch \"$0.$#.$(cat).$t\"\n";
    EXPECT_EQ(StartHidden(make("Vasket", script, true)), 33);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return QFile::exists(dir.filePath("Vasket.0..none")); }, 20000));
    // clang-format off
    const std::pair<QString, int> cases[] = {{dir.filePath("missing"), 2}, {make("plain", script, false), 5},
        {make("broken", "#!/nonexistent/interpreter\n", true), 5}};
    // clang-format on
    for (const auto& [program, result] : cases) {
        EXPECT_EQ(StartHidden(program), result) << program.toStdString();
    }
}

// No sound server to reach: the bell, at once. Runs in a process of its own
// (ctest runs each test alone), before anything opened the sound system.
TEST(Beep, FallsBackToTheBellWithoutASoundServer) {
    QTemporaryDir nowhere;
    qputenv("PULSE_SERVER", "unix:" + nowhere.filePath("none").toUtf8());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(std::pair(Beep(), Beep()), std::pair(BeepSound::Bell, BeepSound::Bell));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

class NoticeChannel : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Listen(Channel())); }

    // Socket paths inside the test's own directory keep parallel runs apart.
    QString Channel(const char* name = "notices") const { return dir_.filePath(name); }

    // Every notice the server delivered, once one arrived.
    static std::vector<QByteArray> Received(QSignalSpy& spy) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return spy.count() > 0; }, 10000));
        const auto n = spy | std::views::transform([](auto& a) { return a[0].toByteArray(); });
        return {n.begin(), n.end()};
    }

    QTemporaryDir dir_;
    NoticeServer server;
    QSignalSpy spy{&server, &NoticeServer::NoticeReceived};
};

// Each connection is one notice, its bytes exactly, whatever they are, up to
// the cap: a flood is cut. Sent from another thread, as the monitor would.
TEST_F(NoticeChannel, EachConnectionArrivesAsOneNoticeByteForByteUpToTheCap) {
    const QByteArray mixed("IN\0\x80\xFF\r\n", 7);
    const QByteArray texts[] = {"IN", "", mixed.repeated(3000), mixed.repeated(150000)};
    for (const QByteArray& text : texts) {
        bool sent = false;
        std::thread sender([&] { sent = DeliverNotice(text, Channel(), 3000).delivered; });
        const auto notices = Received(spy);
        sender.join();
        EXPECT_TRUE(sent || text.size() > 64 * 1024);
        EXPECT_EQ(notices, std::vector{text.left(64 * 1024)});
        spy.clear();
    }
}

// A peer that sends and stays connected is heard with what it sent and hung up on.
TEST_F(NoticeChannel, PeerThatStaysConnectedIsDroppedWithWhatItSent) {
    QLocalSocket peer;
    peer.connectToServer(Channel());
    ASSERT_TRUE(peer.waitForConnected(1000) && peer.write("IN") == 2 &&
                peer.waitForBytesWritten(1000));
    EXPECT_EQ(Received(spy), std::vector<QByteArray>{"IN"});
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return peer.state() == QLocalSocket::UnconnectedState; }, 10000));
}

sockaddr_un Address(const QString& path) {
    sockaddr_un address{AF_UNIX, {}};
    const QByteArray native = QFile::encodeName(path);
    EXPECT_LT(size_t(native.size()), sizeof(address.sun_path));
    std::copy(native.begin(), native.end(), address.sun_path);
    return address;
}

// A station claims its channel only from a dead one: a live station keeps
// it untouched (no probe reaches it), a stale socket file is replaced.
TEST_F(NoticeChannel, ClaimTakesOnlyAFreeOrStaleChannel) {
    // A socket file left behind by a station that died: bound, never listened.
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un address = Address(Channel("stale"));
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    auto first = std::make_unique<NoticeServer>();
    ASSERT_EQ(first->Claim(Channel("station")), ClaimResult::Listening);
    QLocalServer foreign;
    ASSERT_TRUE(foreign.listen(Channel("foreign")));
    QSignalSpy firstSpy(first.get(), &NoticeServer::NoticeReceived);
    // clang-format off
    const std::pair<const char*, ClaimResult> claims[] = {{"free", ClaimResult::Listening},
        {"stale", ClaimResult::Listening}, {"station", ClaimResult::Taken}, {"foreign", ClaimResult::Taken}};
    // clang-format on
    for (const auto& [name, result] : claims) {
        NoticeServer second;
        EXPECT_EQ(second.Claim(Channel(name)), result) << name;
        if (result == ClaimResult::Listening) {
            QSignalSpy heard(&second, &NoticeServer::NoticeReceived);
            ASSERT_TRUE(DeliverNotice("IN", Channel(name), 1000).delivered);
            EXPECT_EQ(Received(heard), std::vector<QByteArray>{"IN"}) << name;
        }
    }
    QTest::qWait(50);
    EXPECT_EQ(firstSpy.count(), 0) << "a claim must not be a notice to the holder";
    // The holder still listens, and once it is gone the channel is free.
    ASSERT_TRUE(DeliverNotice("OUT", Channel("station"), 1000).delivered);
    EXPECT_EQ(Received(firstSpy), std::vector<QByteArray>{"OUT"});
    first.reset();
    EXPECT_FALSE(QFile::exists(Channel("station") + ".lock")) << "a station leaves no lock file";
    EXPECT_EQ(NoticeServer().Claim(Channel("station")), ClaimResult::Listening);
}

// A plain channel name lives in the private runtime directory; one another
// user could have made is refused, naming it.
TEST_F(NoticeChannel, PlainNamesLiveInThePrivateRuntimeDirectoryOrAreRefused) {
    const QString run = dir_.filePath("run");
    ASSERT_TRUE(fs::create_directory(run.toStdString()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(run));
    NoticeServer plain;
    ASSERT_EQ(plain.Claim("plain"), ClaimResult::Listening);
    // Heard by the plain name and at the socket's place in that directory.
    QSignalSpy heard(&plain, &NoticeServer::NoticeReceived);
    ASSERT_TRUE(DeliverNotice("IN", "plain", 1000).delivered);
    EXPECT_EQ(Received(heard), std::vector<QByteArray>{"IN"});
    heard.clear();
    ASSERT_TRUE(DeliverNotice("OUT", run + "/quorlink/plain", 1000).delivered);
    EXPECT_EQ(Received(heard), std::vector<QByteArray>{"OUT"});
    ASSERT_TRUE(QFile::setPermissions(run + "/quorlink", QFileDevice::Permissions(0x7777)));
    NoticeServer refused;
    EXPECT_EQ(refused.Claim("other"), ClaimResult::Failed);
    EXPECT_EQ(refused.Refusal(),
              "Runtime directory " + run + "/quorlink refused: other users may use it (mode 0777)");
    qunsetenv("XDG_RUNTIME_DIR");
}

// Never deaf: a peer holding hundreds of connections open cannot use up
// the station's descriptors (Qt would close the server for good), and a
// socket file that vanished is listened on again; both are said.
TEST_F(NoticeChannel, FloodsAndALostSocketFileNeverLeaveTheChannelDeaf) {
    QSignalSpy warnings(&server, &NoticeServer::Warning);
    // Room for a hundred more descriptors than the test already has.
    rlimit before{}, tight{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    tight = {rlim_t(std::distance(fs::directory_iterator("/proc/self/fd"), {}) + 100),
             before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const sockaddr_un address = Address(Channel());
    const pid_t flooder = fork();
    if (flooder == 0) {
        ::setrlimit(RLIMIT_NOFILE, &before);
        // As fast as the server takes them, for a second or so; holds every
        // connection until killed.
        for (int connected = 0, tries = 0, fd = -1; connected < 400 && tries < 20000; ++tries) {
            fd = fd < 0 ? ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0) : fd;
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
                ++connected, fd = -1;
            } else {
                ::usleep(50);
            }
        }
        ::pause();
        _exit(0);
    }
    // Refused while the flood holds the cap, then heard once its idle
    // connections are cut off, as Vasket's retries would be.
    const auto heard = [&] {
        DeliverNotice("IN", Channel(), 300);
        QTest::qWait(100);
        return spy.contains(QVariantList{QByteArray("IN")});
    };
    EXPECT_TRUE(QTest::qWaitFor(heard, 10000)) << "the channel went deaf";
    ::kill(flooder, SIGKILL);
    ::waitpid(flooder, nullptr, 0);
    ::setrlimit(RLIMIT_NOFILE, &before);
    ASSERT_TRUE(QTest::qWaitFor([&] { return warnings.count() > 0; }, 3000));
    EXPECT_TRUE(warnings.at(0).at(0).toString().contains("refused"));
    ASSERT_TRUE(QFile::remove(Channel()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return DeliverNotice("OUT", Channel(), 300).delivered; }, 5000));
    EXPECT_TRUE(warnings.back().at(0).toString().contains("was removed; listening again"));
}

} // namespace
} // namespace ufd
