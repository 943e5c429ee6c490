// The real Vasket binary: one per channel, it ends itself when the station is
// gone, and on a simulated rack a real notice server as the station gets the
// exact bytes of ufd-rack's plugs and unplugs. Each test has its own channel,
// lock directory and rack.
#include "platform/notice_channel.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <gtest/gtest.h>

namespace ufd {
namespace {

using Notices = std::vector<QByteArray>;

class Vasket : public ::testing::Test {
protected:
    void SetUp() override {
        channel_ = "ufd-vasket-test-" + QUuid::createUuid().toString(QUuid::Id128);
        env_.insert("UFD_NOTICE_CHANNEL", channel_);
        env_.insert("XDG_RUNTIME_DIR", dir_.path());
        // The test's own station end finds the socket where Vasket looks.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_.path()));
        // Real-drive mode unless a test sets a rack: this machine has no USB
        // drives to plug, so those tests see only the monitor's own life.
        for (const char* name : {"UFD_STATION_PID", "UFD_MONITOR_GRACE_SECONDS", "QUORLINK_RACK"}) {
            env_.remove(name);
        }
    }
    void TearDown() override {
        for (auto& process : started_) {
            Kill(process.get());
        }
        qunsetenv("XDG_RUNTIME_DIR");
    }
    static void Kill(QProcess* process) {
        process->kill();
        process->waitForFinished();
    }

    QProcess* Start(const QString& program, const QStringList& args,
                    const QProcessEnvironment& env) {
        QProcess* process = started_.emplace_back(std::make_unique<QProcess>()).get();
        process->setProcessEnvironment(env);
        process->start(program, args);
        EXPECT_TRUE(process->waitForStarted()) << qPrintable(process->errorString());
        return process;
    }
    // Vasket serving the station of the given pid (none: whoever listens).
    QProcess* StartVasket(std::optional<qint64> station) {
        QProcessEnvironment env = env_;
        if (station) {
            env.insert("UFD_STATION_PID", QString::number(*station));
        }
        return Start(UFD_VASKET_PATH, {}, env);
    }
    // A process that stands in for the station: only its life matters.
    QProcess* StartStation() { return Start("sleep", {"600"}, env_); }
    // Until Vasket says what it watches: it holds its lock by then.
    static bool Says(QProcess* vasket, const char* watching) {
        QByteArray err;
        return QTest::qWaitFor(
            [&] { return err.append(vasket->readAllStandardError()).contains(watching); }, 10000);
    }

    // The default rack with drives 1 and 2 pulled, and Vasket watching it
    // on behalf of this process.
    QProcess* StartOnRack() {
        rack_ = dir_.filePath("rack.json");
        EXPECT_TRUE(QFile::copy(UFD_EXAMPLE_RACK, rack_));
        env_.insert("QUORLINK_RACK", rack_);
        env_.insert("QUORLINK_STATE_DIR", dir_.filePath("state"));
        EXPECT_TRUE(Rack("unplug", 1) && Rack("unplug", 2));
        QProcess* vasket = StartVasket(QCoreApplication::applicationPid());
        EXPECT_TRUE(Says(vasket, "watching the rack"));
        return vasket;
    }
    bool Rack(const char* command, int index) {
        QProcess* tool =
            Start(UFD_RACK_TOOL_PATH, {"--rack", rack_, command, QString::number(index)}, env_);
        return tool->waitForFinished(10000) && tool->exitStatus() == QProcess::NormalExit &&
               tool->exitCode() == 0;
    }

    // A notice server standing in for the station's channel.
    bool Listen() {
        server_ = std::make_unique<NoticeServer>();
        QObject::connect(server_.get(), &NoticeServer::NoticeReceived,
                         [this](const QByteArray& text) { notices_.push_back(text); });
        return server_->Listen(channel_);
    }
    bool WaitFor(size_t count, int milliseconds = 2000) {
        return QTest::qWaitFor([&] { return notices_.size() >= count; }, milliseconds);
    }

    QTemporaryDir dir_;
    QString channel_;
    QString rack_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> started_;
    std::unique_ptr<NoticeServer> server_;
    Notices notices_;
};

TEST_F(Vasket, OnePerStationAndNoneForAStationAlreadyGone) {
    QProcess* station = StartStation();
    const qint64 pid = station->processId();
    QProcess* first = StartVasket(pid);
    ASSERT_TRUE(Says(first, "watching"));
    QProcess* second = StartVasket(pid);
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(first->state(), QProcess::Running);
    Kill(station);
    ASSERT_TRUE(first->waitForFinished(10000)) << "Vasket outlived its station";
    EXPECT_EQ(first->exitCode(), 0);
    QProcess* late = StartVasket(pid);
    ASSERT_TRUE(late->waitForFinished(10000));
    EXPECT_EQ(late->exitCode(), 0);
}

TEST_F(Vasket, WithoutAStationPidItEndsWhenNobodyListens) {
    env_.insert("UFD_MONITOR_GRACE_SECONDS", "1");
    ASSERT_TRUE(Listen());
    QProcess* vasket = StartVasket(std::nullopt);
    EXPECT_FALSE(vasket->waitForFinished(3000)) << "a listening station keeps it";
    server_.reset();
    ASSERT_TRUE(vasket->waitForFinished(15000)) << "Vasket kept running with nobody listening";
    EXPECT_EQ(vasket->exitCode(), 0);
}

// The channel missing at the first plug, then there, then gone.
TEST_F(Vasket, PlugsAndUnplugsReachAChannelThatIsLateOrWasGone) {
    QProcess* vasket = StartOnRack();
    ASSERT_TRUE(Rack("plug", 1));
    QTest::qWait(500);
    ASSERT_TRUE(Listen());
    ASSERT_TRUE(WaitFor(1, 5000)); // within the longest backoff step
    for (const char* command : {"unplug", "plug"}) {
        ASSERT_TRUE(Rack(command, 1));
        ASSERT_TRUE(WaitFor(notices_.size() + 1));
    }
    server_.reset();
    ASSERT_TRUE(Rack("unplug", 1));
    QTest::qWait(300);
    ASSERT_TRUE(Rack("plug", 2));
    QTest::qWait(300);
    ASSERT_TRUE(Listen());
    ASSERT_TRUE(WaitFor(4, 5000));
    QTest::qWait(300);
    // One notice each, and the pulled drive not forgotten behind the later arrival.
    EXPECT_EQ(notices_, (Notices{"IN", "OUT", "IN", "OUT"}));
    EXPECT_EQ(vasket->state(), QProcess::Running);
}

} // namespace
} // namespace ufd
