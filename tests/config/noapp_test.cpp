// Without a Qt application object: the tools' view of the same services,
// and the program directory's separator.
#include "config/program_directory.h"
#include "config/wait_seconds.h"
#include "platform/clock.h"
#include "platform/message_box.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <filesystem>

namespace ufd {
namespace {

TEST(NoApplication, ProgramDirectoryFromTheRunningExecutable) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    const auto exe = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(ProgramDirectory(), QString::fromStdString(exe.parent_path().string()) + "/");
    EXPECT_TRUE(std::filesystem::exists(ProgramDirectory().toStdString() + "config_noapp_tests"));
}

TEST(ProgramDirectory, ExactlyOneTrailingSeparator) {
    const std::pair<QString, QString> cases[] = {
        {"/", "/"},
        {"/opt/station", "/opt/station/"},
        {"/opt/station/", "/opt/station/"},
        {"/opt/station//", "/opt/station/"},
        {"//", "/"},
        {"relative/dir", "relative/dir/"},
        {"/opt/st\u00e4tion", "/opt/st\u00e4tion/"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(WithTrailingSeparator(in), out) << in.toStdString();
    }
}

TEST(NoApplication, WaitSleepsUntilTheClockHasPassedTheWait) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    SystemClock clock;
    float start = clock.SecondsSinceMidnight();
    WaitSeconds(0.05f);
    float now = clock.SecondsSinceMidnight();
    if (now < start) {
        now += 86400.f;
    }
    EXPECT_GT(now - start, 0.05f);
}

TEST(NoApplication, MessageBoxAnswersWithTheDefaultButton) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(ShowMessageBox("Open product.ini failed", kStyleStop), kAnswerOk);
    EXPECT_EQ(ShowMessageBox("No items checked", kStyleExclamation, QString("t")), kAnswerOk);
    EXPECT_EQ(ShowMessageBox("Clear?", kStyleYesNoInfo), kAnswerNo);
}

} // namespace
} // namespace ufd
