// The desktop's services: real message boxes, starting the monitor, the beep.
#include "platform/beep.h"
#include "platform/message_box.h"
#include "platform/start_hidden.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace ufd {
namespace {

// What the real box looked like when the operator saw it.
struct Seen {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QString title, text;
    QWidget* parent = nullptr;
    bool modal = false;
    QPoint centre;
};

// Waits for the modal box, records it and presses `press` (or Escape when
// press is NoButton).
Seen ShowAndPress(const std::function<int()>& show, QMessageBox::StandardButton press,
                  int& answer) {
    Seen seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        poll.stop();
        seen = {box->icon(),
                box->standardButtons(),
                box->standardButton(box->defaultButton()),
                box->windowTitle(),
                box->text(),
                box->parentWidget(),
                box->windowModality() == Qt::ApplicationModal,
                box->frameGeometry().center()};
        if (press == QMessageBox::NoButton) {
            QTest::keyClick(box, Qt::Key_Escape);
        } else {
            box->button(press)->click();
        }
    });
    poll.start();
    answer = show();
    return seen;
}

TEST(RealMessageBox, IconButtonsDefaultTitleAndAnswer) {
    using B = QMessageBox;
    struct Case {
        int style;
        std::optional<QString> title;
        B::StandardButton press; // NoButton: Escape
        B::Icon icon;
        B::StandardButtons buttons;
        B::StandardButton defaultButton;
        QString shownTitle;
        int answer;
    };
    const auto yesNo = B::Yes | B::No;
    const auto crit = B::Critical;
    // clang-format off
    const Case cases[] = {
        {kStyleStop, QString("UFD"), B::Ok, crit, B::Ok, B::Ok, "UFD", kAnswerOk},
        {kStyleStop, std::nullopt, B::Ok, crit, B::Ok, B::Ok, "Station Under Test", kAnswerOk},
        {kStyleExclamation, QString("Items"), B::Ok, B::Warning, B::Ok, B::Ok, "Items", kAnswerOk},
        {kStyleYesNoInfo, QString("Clear"), B::Yes, B::Information, yesNo, B::No, "Clear", kAnswerYes},
        {kStyleYesNoInfo, QString("Clear"), B::No, B::Information, yesNo, B::No, "Clear", kAnswerNo},
        {kStyleYesNoInfo, QString("Clear"), B::NoButton, B::Information, yesNo, B::No, "Clear", kAnswerNo},
    };
    // clang-format on
    SetMessageBoxHandler({});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.style);
        int answer = 0;
        const Seen seen = ShowAndPress(
            [&] { return ShowMessageBox("Message for the operator", c.style, c.title); }, c.press,
            answer);
        EXPECT_EQ(seen.text, "Message for the operator");
        EXPECT_EQ(seen.icon, c.icon);
        EXPECT_EQ(seen.buttons, c.buttons);
        EXPECT_EQ(seen.defaultButton, c.defaultButton);
        EXPECT_EQ(seen.title, c.shownTitle);
        EXPECT_EQ(answer, c.answer);
    }
}

// Without a window manager nothing else places the box: it must itself sit
// over the station window, not wherever the screen's corner is.
TEST(RealMessageBox, SitsCentredOverItsWindowAndBlocksIt) {
    SetMessageBoxHandler({});
    QWidget window;
    window.setGeometry(300, 200, 663, 513);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (int style : {kStyleExclamation, kStyleYesNoInfo}) {
        int answer = 0;
        const Seen seen = ShowAndPress(
            [&] { return ShowMessageBox("Over the window", style, std::nullopt, &window); },
            QMessageBox::NoButton, answer);
        EXPECT_EQ(seen.parent, &window);
        EXPECT_TRUE(seen.modal);
        const QPoint offset = seen.centre - window.frameGeometry().center();
        EXPECT_LE(offset.manhattanLength(), 4) << offset.x() << "," << offset.y();
    }
}

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
