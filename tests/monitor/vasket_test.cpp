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

#include <memory>
#include <vector>

namespace ufd {
namespace {

const QString kVasket = QStringLiteral(UFD_VASKET_PATH);

// A process that stands in for the station: only its life matters.
class FakeStation {
public:
    FakeStation() {
        process_.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        process_.waitForStarted();
        pid_ = process_.processId();
    }
    ~FakeStation() { End(); }
    qint64 Pid() const { return pid_; }
    void End() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }

private:
    QProcess process_;
    qint64 pid_ = 0;
};

// A notice server standing in for the station's channel.
class Channel {
public:
    bool Listen(const QString& name) {
        server_ = std::make_unique<NoticeServer>();
        QObject::connect(server_.get(), &NoticeServer::NoticeReceived,
                         [this](const QByteArray& text) { notices.push_back(text); });
        return server_->Listen(name);
    }
    void Close() { server_.reset(); }
    bool WaitFor(size_t count, int milliseconds = 2000) {
        return QTest::qWaitFor([&] { return notices.size() >= count; }, milliseconds);
    }
    std::vector<QByteArray> notices;

private:
    std::unique_ptr<NoticeServer> server_;
};

class Vasket : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        channel_ = QStringLiteral("ufd-vasket-test-") + QUuid::createUuid().toString(QUuid::Id128);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("UFD_NOTICE_CHANNEL"), channel_);
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        env_.remove(QStringLiteral("UFD_STATION_PID"));
        env_.remove(QStringLiteral("UFD_MONITOR_GRACE_SECONDS"));
        // Real-drive mode unless a test sets a rack: this machine has no USB
        // drives to plug, so those tests see only the monitor's own life.
        env_.remove(QStringLiteral("QUORLINK_RACK"));
    }
    void TearDown() override {
        for (auto& process : started_) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }

    QProcess* Start(const QProcessEnvironment& env) {
        started_.push_back(std::make_unique<QProcess>());
        QProcess* process = started_.back().get();
        process->setProcessEnvironment(env);
        process->start(kVasket, {});
        EXPECT_TRUE(process->waitForStarted()) << qPrintable(process->errorString());
        return process;
    }
    QProcessEnvironment Serving(qint64 pid) const {
        QProcessEnvironment env = env_;
        env.insert(QStringLiteral("UFD_STATION_PID"), QString::number(pid));
        return env;
    }
    // Until Vasket says what it watches: it holds its lock by then.
    static bool Watching(QProcess* vasket) {
        QByteArray err;
        return QTest::qWaitFor(
            [&] { return err.append(vasket->readAllStandardError()).contains("watching"); }, 10000);
    }

    // The default rack with drives 1 and 2 pulled, and Vasket watching it
    // on behalf of this process.
    QProcess* StartOnRack() {
        rack_ = dir_.filePath(QStringLiteral("rack.json"));
        EXPECT_TRUE(QFile::copy(QStringLiteral(UFD_EXAMPLE_RACK), rack_));
        env_.insert(QStringLiteral("QUORLINK_RACK"), rack_);
        env_.insert(QStringLiteral("QUORLINK_STATE_DIR"), dir_.filePath(QStringLiteral("state")));
        EXPECT_TRUE(Rack("unplug", 1) && Rack("unplug", 2));
        QProcess* vasket = Start(Serving(QCoreApplication::applicationPid()));
        QByteArray err;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return err.append(vasket->readAllStandardError()).contains("watching the rack");
            },
            10000))
            << err.constData();
        return vasket;
    }
    bool Rack(const char* command, int index) {
        QProcess tool;
        tool.setProcessEnvironment(env_);
        tool.start(QStringLiteral(UFD_RACK_TOOL_PATH),
                   {QStringLiteral("--rack"), rack_, QString::fromLatin1(command),
                    QString::number(index)});
        return tool.waitForFinished(10000) && tool.exitStatus() == QProcess::NormalExit &&
               tool.exitCode() == 0;
    }

    QTemporaryDir dir_;
    QString channel_;
    QString rack_;
    QProcessEnvironment env_;
    std::vector<std::unique_ptr<QProcess>> started_;
};

TEST_F(Vasket, OnePerStationAndNoneForAStationAlreadyGone) {
    FakeStation station;
    QProcess* first = Start(Serving(station.Pid()));
    ASSERT_TRUE(Watching(first));
    QProcess* second = Start(Serving(station.Pid()));
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(first->state(), QProcess::Running);
    station.End();
    ASSERT_TRUE(first->waitForFinished(10000)) << "Vasket outlived its station";
    EXPECT_EQ(first->exitCode(), 0);
    QProcess* late = Start(Serving(station.Pid()));
    ASSERT_TRUE(late->waitForFinished(10000));
    EXPECT_EQ(late->exitCode(), 0);
}

TEST_F(Vasket, WithoutAStationPidItEndsWhenNobodyListens) {
    QProcessEnvironment env = env_;
    env.insert(QStringLiteral("UFD_MONITOR_GRACE_SECONDS"), QStringLiteral("1"));
    auto server = std::make_unique<NoticeServer>();
    ASSERT_TRUE(server->Listen(channel_));
    QProcess* vasket = Start(env);
    EXPECT_FALSE(vasket->waitForFinished(3000)) << "a listening station keeps it";
    server.reset();
    ASSERT_TRUE(vasket->waitForFinished(15000)) << "Vasket kept running with nobody listening";
    EXPECT_EQ(vasket->exitCode(), 0);
}

TEST_F(Vasket, RackPlugAndUnplugArriveAsInAndOut) {
    Channel station;
    ASSERT_TRUE(station.Listen(channel_));
    StartOnRack();
    ASSERT_TRUE(Rack("plug", 1));
    ASSERT_TRUE(station.WaitFor(1));
    ASSERT_TRUE(Rack("unplug", 1));
    ASSERT_TRUE(station.WaitFor(2));
    QTest::qWait(300);
    EXPECT_EQ(station.notices, (std::vector<QByteArray>{"IN", "OUT"}));
}

TEST_F(Vasket, AChannelThatAppearsLateStillGetsTheNotice) {
    StartOnRack();
    ASSERT_TRUE(Rack("plug", 1));
    QTest::qWait(500);
    Channel station;
    ASSERT_TRUE(station.Listen(channel_));
    ASSERT_TRUE(station.WaitFor(1, 5000)); // within the longest backoff step
    QTest::qWait(300);
    EXPECT_EQ(station.notices, std::vector<QByteArray>{"IN"});
}

TEST_F(Vasket, ChangesWhileTheChannelIsGoneArriveAsOneOut) {
    Channel station;
    ASSERT_TRUE(station.Listen(channel_));
    QProcess* vasket = StartOnRack();
    ASSERT_TRUE(Rack("plug", 1));
    ASSERT_TRUE(station.WaitFor(1));
    station.Close();
    ASSERT_TRUE(Rack("unplug", 1));
    QTest::qWait(300);
    ASSERT_TRUE(Rack("plug", 2));
    QTest::qWait(300);
    ASSERT_TRUE(station.Listen(channel_));
    ASSERT_TRUE(station.WaitFor(2, 5000));
    QTest::qWait(300);
    // The pulled drive is not forgotten behind the later arrival.
    EXPECT_EQ(station.notices, (std::vector<QByteArray>{"IN", "OUT"}));
    EXPECT_EQ(vasket->state(), QProcess::Running);
}

} // namespace
} // namespace ufd
