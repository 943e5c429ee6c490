#include "platform/beep.h"
#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace ufd {
namespace {

TEST(MessageBoxHandler, SeesTheRequestAndItsAnswerIsReturned) {
    std::vector<MessageBoxRequest> seen;
    int answer = kAnswerYes;
    SetMessageBoxHandler([&](const MessageBoxRequest& r) {
        seen.push_back(r);
        return answer;
    });
    EXPECT_EQ(ShowMessageBox("Clear the report?", kStyleYesNoInfo), kAnswerYes);
    answer = kAnswerNo;
    EXPECT_EQ(ShowMessageBox("Open product.ini failed", kStyleStop, QString("UFD")), kAnswerNo);
    SetMessageBoxHandler({});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "Clear the report?");
    EXPECT_EQ(seen[0].style, kStyleYesNoInfo);
    EXPECT_FALSE(seen[0].title.has_value());
    EXPECT_EQ(seen[1].style, kStyleStop);
    EXPECT_EQ(seen[1].title, std::optional<QString>("UFD"));
}

TEST(MessageBoxHandler, MayReplaceItselfWhileRunning) {
    int second = 0;
    SetMessageBoxHandler([&](const MessageBoxRequest&) {
        SetMessageBoxHandler([&](const MessageBoxRequest&) { return ++second, kAnswerNo; });
        return kAnswerOk;
    });
    EXPECT_EQ(ShowMessageBox("one", kStyleStop), kAnswerOk);
    EXPECT_EQ(ShowMessageBox("two", kStyleStop), kAnswerNo);
    SetMessageBoxHandler({});
    EXPECT_EQ(second, 1);
}

// What the real box looked like when the operator saw it.
struct Seen {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QString title;
    QString text;
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
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.defaultButton = box->standardButton(box->defaultButton());
        seen.title = box->windowTitle();
        seen.text = box->text();
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

struct RealBoxCase {
    const char* name;
    int style;
    std::optional<QString> title;
    QMessageBox::StandardButton press;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
    QString shownTitle;
    int answer;
};

void PrintTo(const RealBoxCase& c, std::ostream* os) {
    *os << c.name;
}

class RealMessageBoxTest : public ::testing::TestWithParam<RealBoxCase> {};

TEST_P(RealMessageBoxTest, IconButtonsDefaultTitleAndAnswer) {
    const RealBoxCase& c = GetParam();
    SetMessageBoxHandler({});
    int answer = 0;
    const Seen seen =
        ShowAndPress([&] { return ShowMessageBox("Message for the operator", c.style, c.title); },
                     c.press, answer);
    EXPECT_EQ(seen.text, "Message for the operator");
    EXPECT_EQ(seen.icon, c.icon);
    EXPECT_EQ(seen.buttons, c.buttons);
    EXPECT_EQ(seen.defaultButton, c.defaultButton);
    EXPECT_EQ(seen.title, c.shownTitle);
    EXPECT_EQ(answer, c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, RealMessageBoxTest,
    ::testing::Values(
        RealBoxCase{"Stop", kStyleStop, QString("UFD Manufacture Program"), QMessageBox::Ok,
                    QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok,
                    "UFD Manufacture Program", kAnswerOk},
        RealBoxCase{"StopDefaultTitle", kStyleStop, std::nullopt, QMessageBox::Ok,
                    QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, "Station Under Test",
                    kAnswerOk},
        RealBoxCase{"Exclamation", kStyleExclamation, QString("Items"), QMessageBox::Ok,
                    QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, "Items", kAnswerOk},
        RealBoxCase{"YesNoAnsweredYes", kStyleYesNoInfo, QString("Clear"), QMessageBox::Yes,
                    QMessageBox::Information, QMessageBox::Yes | QMessageBox::No, QMessageBox::No,
                    "Clear", kAnswerYes},
        RealBoxCase{"YesNoAnsweredNo", kStyleYesNoInfo, QString("Clear"), QMessageBox::No,
                    QMessageBox::Information, QMessageBox::Yes | QMessageBox::No, QMessageBox::No,
                    "Clear", kAnswerNo},
        RealBoxCase{"YesNoEscapedIsNo", kStyleYesNoInfo, QString("Clear"), QMessageBox::NoButton,
                    QMessageBox::Information, QMessageBox::Yes | QMessageBox::No, QMessageBox::No,
                    "Clear", kAnswerNo}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Beep, GoesToTheHandlerUntilItIsRemoved) {
    int beeps = 0;
    SetBeepHandler([&] { ++beeps; });
    for (int i = 0; i < 5; ++i) {
        Beep();
    }
    SetBeepHandler({});
    Beep(); // the real one now
    EXPECT_EQ(beeps, 5);
}

} // namespace
} // namespace ufd
