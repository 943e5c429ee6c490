#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
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

} // namespace
} // namespace ufd
