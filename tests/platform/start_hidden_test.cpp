#include "platform/beep.h"
#include "platform/start_hidden.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace ufd {
namespace {

class StartHiddenTest : public ::testing::Test {
protected:
    QString MakeFile(const QString& name, const QByteArray& content, bool executable) {
        QFile file(dir_.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner |
                            (executable ? QFile::ExeOwner : QFile::Permissions()));
        return file.fileName();
    }

    QTemporaryDir dir_;
};

TEST_F(StartHiddenTest, StartsTheProgramWithoutArgumentsOrTerminal) {
    // The script reports its argument count, what it reads (stdin is
    // /dev/null: nothing, no hang) and whether its output is a terminal.
    const QString report = dir_.filePath("report");
    const QString script = MakeFile("Vasket",
                                    QStringLiteral("#!/bin/sh\n"
                                                   "t=none; [ -t 1 ] && t=tty\n"
                                                   "{ echo \"$#\"; cat; echo $t; } > '%1.tmp'\n"
                                                   "mv '%1.tmp' '%1'\n")
                                        .arg(report)
                                        .toUtf8(),
                                    true);
    EXPECT_EQ(StartHidden(script), 33);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(report); }, 20000));
    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "0\nnone\n");
}

TEST_F(StartHiddenTest, ResultsBelow32WhenItCannotStart) {
    struct Case {
        const char* name;
        QString program;
        int result;
    };
    const Case cases[] = {
        {"missing", dir_.filePath("Vasket"), 2},
        {"empty name", QString(), 2},
        {"not executable", MakeFile("plain", "#!/bin/sh\nexit 0\n", false), 5},
        {"a directory", dir_.path(), 5},
        {"no such interpreter", MakeFile("broken", "#!/nonexistent/interpreter\n", true), 5},
    };
    for (const Case& c : cases) {
        const int result = StartHidden(c.program);
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_LT(result, 32) << c.name;
    }
}

// No sound server to reach: the bell, at once. Runs in a process of its own
// (ctest runs each test alone), before anything opened the sound system.
TEST(Beep, FallsBackToTheBellWithoutASoundServer) {
    QTemporaryDir nowhere;
    qputenv("PULSE_SERVER", "unix:" + nowhere.filePath("none").toUtf8());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Beep(), BeepSound::Bell);
    EXPECT_EQ(Beep(), BeepSound::Bell);
    EXPECT_LT(clock.elapsed(), 5000);

    int heard = 0;
    SetBeepHandler([&heard] { ++heard; });
    EXPECT_EQ(Beep(), BeepSound::Handler);
    SetBeepHandler({});
    EXPECT_EQ(heard, 1);
}

} // namespace
} // namespace ufd
