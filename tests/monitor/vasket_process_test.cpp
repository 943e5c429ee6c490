// The real Vasket binary: one per channel, and it ends itself when the
// station is gone. Each test has its own channel and lock directory.
#include "monitor/instance_lock.h"
#include "platform/notice_channel.h"
#include "platform/start_hidden.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

namespace ufd {
namespace {

const QString kVasket = QStringLiteral(UFD_VASKET_PATH);

// A process that stands in for the station: only its life matters.
class FakeStation {
public:
    FakeStation() {
        process_.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        process_.waitForStarted();
    }
    ~FakeStation() { End(); }
    qint64 Pid() const { return process_.processId(); }
    void End() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }

private:
    QProcess process_;
};

class VasketProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        channel_ = QStringLiteral("ufd-vasket-test-") + QUuid::createUuid().toString(QUuid::Id128);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("UFD_NOTICE_CHANNEL"), channel_);
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        env_.remove(QStringLiteral("UFD_STATION_PID"));
        env_.remove(QStringLiteral("UFD_MONITOR_GRACE_SECONDS"));
        // Real-drive mode: this machine has no USB drives to plug, so these
        // tests see no notices, only the monitor's own life.
        env_.remove(QStringLiteral("QUORLINK_RACK"));
    }

    std::unique_ptr<QProcess> Start(const QProcessEnvironment& env) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(kVasket, {});
        EXPECT_TRUE(process->waitForStarted()) << qPrintable(process->errorString());
        return process;
    }
    QProcessEnvironment ServingStation(qint64 pid) const {
        QProcessEnvironment env = env_;
        env.insert(QStringLiteral("UFD_STATION_PID"), QString::number(pid));
        return env;
    }
    QString LockPath() const {
        // The same rule as Vasket's, under this test's runtime directory.
        return dir_.path() + QStringLiteral("/vasket-") + channel_ + QStringLiteral(".lock");
    }
    bool LockHeld() const { return !InstanceLock::TryAcquire(LockPath()).has_value(); }
    bool WaitForLock(bool held) const {
        return QTest::qWaitFor([&] { return LockHeld() == held; }, 10000);
    }

    QTemporaryDir dir_;
    QString channel_;
    QProcessEnvironment env_;
};

TEST_F(VasketProcess, LockFileIsNamedAfterTheChannel) {
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_.path()));
    EXPECT_EQ(InstanceLockPath(channel_), LockPath());
}

TEST_F(VasketProcess, ASecondInstanceForTheSameStationExitsAtOnce) {
    FakeStation station;
    auto first = Start(ServingStation(station.Pid()));
    ASSERT_TRUE(WaitForLock(true));

    auto second = Start(ServingStation(station.Pid()));
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(first->state(), QProcess::Running);

    station.End();
    ASSERT_TRUE(first->waitForFinished(10000)) << "Vasket outlived its station";
    EXPECT_EQ(first->exitCode(), 0);
    EXPECT_FALSE(LockHeld());
}

TEST_F(VasketProcess, AnotherChannelGetsItsOwnInstance) {
    FakeStation station;
    auto first = Start(ServingStation(station.Pid()));
    ASSERT_TRUE(WaitForLock(true));
    QProcessEnvironment other = ServingStation(station.Pid());
    other.insert(QStringLiteral("UFD_NOTICE_CHANNEL"), channel_ + QStringLiteral("-other"));
    auto second = Start(other);
    EXPECT_FALSE(second->waitForFinished(1500)) << "a monitor for another channel gave way";
    station.End();
    EXPECT_TRUE(first->waitForFinished(10000));
    EXPECT_TRUE(second->waitForFinished(10000));
}

TEST_F(VasketProcess, TakesOverFromAnInstanceWhoseStationHasDied) {
    auto oldStation = std::make_unique<FakeStation>();
    auto old = Start(ServingStation(oldStation->Pid()));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ReadOwnerStation(LockPath()) == static_cast<pid_t>(oldStation->Pid()); },
        10000))
        << "the first instance never recorded its station";

    FakeStation newStation;
    auto fresh = Start(ServingStation(newStation.Pid()));
    oldStation->End();
    ASSERT_TRUE(old->waitForFinished(10000));
    // The new instance waited for the lock instead of leaving its station
    // without a monitor.
    EXPECT_FALSE(fresh->waitForFinished(1500));
    EXPECT_TRUE(LockHeld());
    newStation.End();
    EXPECT_TRUE(fresh->waitForFinished(10000));
}

TEST_F(VasketProcess, AStationAlreadyGoneMeansNoMonitor) {
    auto station = std::make_unique<FakeStation>();
    const qint64 pid = station->Pid();
    station.reset();
    auto vasket = Start(ServingStation(pid));
    ASSERT_TRUE(vasket->waitForFinished(10000));
    EXPECT_EQ(vasket->exitCode(), 0);
}

TEST_F(VasketProcess, WithoutAStationPidItEndsWhenNobodyListens) {
    QProcessEnvironment env = env_;
    env.insert(QStringLiteral("UFD_MONITOR_GRACE_SECONDS"), QStringLiteral("1"));
    auto server = std::make_unique<NoticeServer>();
    ASSERT_TRUE(server->Listen(channel_));
    auto vasket = Start(env);
    // A listening station keeps it, well past the grace period.
    EXPECT_FALSE(vasket->waitForFinished(3000));

    server.reset();
    ASSERT_TRUE(vasket->waitForFinished(15000)) << "Vasket kept running with nobody listening";
    EXPECT_EQ(vasket->exitCode(), 0);
}

TEST_F(VasketProcess, StartHiddenStartsTheRealMonitorAndReportsAMissingOne) {
    // The station's own way of starting it: detached, no handle kept.
    FakeStation station;
    qputenv("UFD_NOTICE_CHANNEL", channel_.toUtf8());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_.path()));
    qputenv("UFD_STATION_PID", QByteArray::number(station.Pid()));
    const int started = StartHidden(kVasket);
    qunsetenv("UFD_STATION_PID");
    EXPECT_GE(started, 32);
    EXPECT_TRUE(WaitForLock(true)) << "the started monitor never took its lock";
    station.End();
    EXPECT_TRUE(WaitForLock(false)) << "the started monitor outlived its station";

    EXPECT_LT(StartHidden(dir_.filePath(QStringLiteral("Vasket"))), 32);
    QFile plain(dir_.filePath(QStringLiteral("NotExecutable")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("#!/bin/sh\nexit 0\n");
    plain.close();
    ASSERT_TRUE(plain.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    EXPECT_LT(StartHidden(plain.fileName()), 32);
}

} // namespace
} // namespace ufd
