#include "platform/start_hidden.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace ufd {
namespace {

class StartHiddenTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString MakeFile(const QString& name, const QByteArray& content, bool executable) {
        const QString path = dir_.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        auto permissions = QFile::ReadOwner | QFile::WriteOwner;
        if (executable) {
            permissions |= QFile::ExeOwner;
        }
        file.setPermissions(permissions);
        return path;
    }

    static QByteArray ReadAll(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir dir_;
};

TEST_F(StartHiddenTest, StartsTheProgramWithoutArgumentsOrTerminal) {
    const QString out = dir_.path();
    const QString script =
        MakeFile("Vasket",
                 QStringLiteral("#!/bin/sh\n"
                                "echo \"$#\" > '%1/args'\n"
                                "cat > '%1/stdin'\n"
                                "if [ -t 1 ]; then echo tty; else echo none; fi > '%1/stdout'\n"
                                "echo done > '%1/done'\n")
                     .arg(out)
                     .toUtf8(),
                 true);
    const int result = StartHidden(script);
    EXPECT_GE(result, 32);
    EXPECT_EQ(result, 33);
    // The program runs on its own; give it time to leave its marks.
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(out + "/done"); }, 20000));
    EXPECT_EQ(ReadAll(out + "/args"), "0\n");
    EXPECT_EQ(ReadAll(out + "/stdin"), ""); // stdin is /dev/null: nothing, no hang
    EXPECT_EQ(ReadAll(out + "/stdout"), "none\n");
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

} // namespace
} // namespace ufd
