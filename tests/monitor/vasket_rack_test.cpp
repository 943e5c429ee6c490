// The real Vasket on a simulated rack, a real notice server as the station
// and ufd-rack as the operator's hand: the exact bytes that arrive.
#include "platform/notice_channel.h"

#include <QDir>
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
const QString kRackTool = QStringLiteral(UFD_RACK_TOOL_PATH);
const QString kExampleRack = QStringLiteral(UFD_EXAMPLE_RACK);
// A USB drive of the example rack.
constexpr int kDrive = 1;
constexpr int kOtherDrive = 2;
// Loose bound for "the notice arrives"; not a speed measurement.
constexpr int kArrivesMilliseconds = 2000;

class Station {
public:
    bool Listen(const QString& channel) {
        server_ = std::make_unique<NoticeServer>();
        QObject::connect(server_.get(), &NoticeServer::NoticeReceived,
                         [this](const QByteArray& text) { notices.push_back(text); });
        return server_->Listen(channel);
    }
    void Close() { server_.reset(); }
    bool WaitForNotices(size_t count, int milliseconds = kArrivesMilliseconds) {
        return QTest::qWaitFor([&] { return notices.size() >= count; }, milliseconds);
    }
    std::vector<QByteArray> notices;

private:
    std::unique_ptr<NoticeServer> server_;
};

class VasketOnRack : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        rack_ = dir_.filePath(QStringLiteral("rack.json"));
        ASSERT_TRUE(QFile::copy(kExampleRack, rack_));
        QFile::setPermissions(rack_, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        channel_ = QStringLiteral("ufd-vasket-rack-") + QUuid::createUuid().toString(QUuid::Id128);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("QUORLINK_RACK"), rack_);
        env_.insert(QStringLiteral("QUORLINK_STATE_DIR"), dir_.filePath(QStringLiteral("state")));
        env_.insert(QStringLiteral("UFD_NOTICE_CHANNEL"), channel_);
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        // This test process is the station: Vasket ends with it.
        env_.insert(QStringLiteral("UFD_STATION_PID"),
                    QString::number(QCoreApplication::applicationPid()));
        ASSERT_TRUE(Rack({QStringLiteral("unplug"), QString::number(kDrive)}));
        ASSERT_TRUE(Rack({QStringLiteral("unplug"), QString::number(kOtherDrive)}));
    }
    void TearDown() override {
        if (vasket_ && vasket_->state() != QProcess::NotRunning) {
            vasket_->kill();
            vasket_->waitForFinished();
        }
    }

    bool Rack(const QStringList& command) {
        QProcess tool;
        tool.setProcessEnvironment(env_);
        tool.start(kRackTool, QStringList{QStringLiteral("--rack"), rack_} + command);
        if (!tool.waitForFinished(10000)) {
            return false;
        }
        EXPECT_EQ(tool.exitCode(), 0)
            << qPrintable(command.join(' ')) << ": " << tool.readAllStandardError().constData();
        return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
    }
    bool Plug(int index) { return Rack({QStringLiteral("plug"), QString::number(index)}); }
    bool Unplug(int index) { return Rack({QStringLiteral("unplug"), QString::number(index)}); }

    // Starts Vasket and waits until it has read the rack once.
    void StartVasket() {
        vasket_ = std::make_unique<QProcess>();
        vasket_->setProcessEnvironment(env_);
        vasket_->start(kVasket, {});
        ASSERT_TRUE(vasket_->waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return stderr_.append(vasket_->readAllStandardError())
                           .contains("watching the rack") ||
                       vasket_->state() == QProcess::NotRunning;
            },
            10000));
        ASSERT_EQ(vasket_->state(), QProcess::Running) << stderr_.constData();
    }

    QTemporaryDir dir_;
    QString rack_;
    QString channel_;
    QProcessEnvironment env_;
    std::unique_ptr<QProcess> vasket_;
    QByteArray stderr_;
};

TEST_F(VasketOnRack, PlugAndUnplugArriveAsInAndOut) {
    Station station;
    ASSERT_TRUE(station.Listen(channel_));
    StartVasket();
    ASSERT_TRUE(Plug(kDrive));
    ASSERT_TRUE(station.WaitForNotices(1));
    ASSERT_TRUE(Unplug(kDrive));
    ASSERT_TRUE(station.WaitForNotices(2));
    EXPECT_EQ(station.notices, (std::vector<QByteArray>{"IN", "OUT"}));
    // Nothing else changed, so nothing else arrives.
    QTest::qWait(300);
    EXPECT_EQ(station.notices.size(), 2u);
}

TEST_F(VasketOnRack, AChannelThatAppearsLateStillGetsTheNotice) {
    StartVasket();
    ASSERT_TRUE(Plug(kDrive));
    QTest::qWait(500);
    Station station;
    ASSERT_TRUE(station.Listen(channel_));
    // Within the longest backoff step and then some.
    ASSERT_TRUE(station.WaitForNotices(1, 5000));
    QTest::qWait(300);
    EXPECT_EQ(station.notices, std::vector<QByteArray>{"IN"});
}

TEST_F(VasketOnRack, ChangesWhileTheChannelIsGoneArriveAsOneOut) {
    Station station;
    ASSERT_TRUE(station.Listen(channel_));
    StartVasket();
    ASSERT_TRUE(Plug(kDrive));
    ASSERT_TRUE(station.WaitForNotices(1));
    station.Close();
    ASSERT_TRUE(Unplug(kDrive));
    QTest::qWait(300);
    ASSERT_TRUE(Plug(kOtherDrive));
    QTest::qWait(300);
    ASSERT_TRUE(station.Listen(channel_));
    ASSERT_TRUE(station.WaitForNotices(2, 5000));
    QTest::qWait(300);
    // The pulled drive is not forgotten behind the later arrival.
    EXPECT_EQ(station.notices, (std::vector<QByteArray>{"IN", "OUT"}));
    EXPECT_EQ(vasket_->state(), QProcess::Running);
}

TEST_F(VasketOnRack, ABrokenRackFileIsAClearFailureNotACrash) {
    QFile broken(rack_);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("{ \"drives\": [ garbage");
    broken.close();
    QProcess vasket;
    vasket.setProcessEnvironment(env_);
    vasket.start(kVasket, {});
    ASSERT_TRUE(vasket.waitForFinished(10000));
    EXPECT_EQ(vasket.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(vasket.exitCode(), 1);
    EXPECT_TRUE(vasket.readAllStandardError().contains("rack")) << "no message naming the rack";
}

} // namespace
} // namespace ufd
