#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <utility>

namespace ufd {

namespace {

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

// The style is the classic bit set: buttons in the low nibble, the icon in
// 0x70, the default button in 0x300. The station uses OK and Yes/No only;
// any other button set is shown as OK.
constexpr int kButtonsMask = 0x0F;
constexpr int kButtonsYesNo = 4;
constexpr int kIconMask = 0x70;
constexpr int kDefaultMask = 0x300;
constexpr int kDefaultSecond = 0x100;

QMessageBox::Icon IconOf(int style) {
    switch (style & kIconMask) {
    case 16:
        return QMessageBox::Critical;
    case 32:
        return QMessageBox::Question;
    case 48:
        return QMessageBox::Warning;
    case 64:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

bool IsYesNo(int style) {
    return (style & kButtonsMask) == kButtonsYesNo;
}

// No screen to show a box on: tell the terminal and answer as an operator
// who just pressed Enter would (the default button).
int AnswerWithoutScreen(const MessageBoxRequest& request) {
    const QString title = request.title.value_or(QCoreApplication::applicationName());
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(title), qUtf8Printable(request.text));
    if (!IsYesNo(request.style)) {
        return kAnswerOk;
    }
    return (request.style & kDefaultMask) == kDefaultSecond ? kAnswerNo : kAnswerYes;
}

int ShowRealBox(const MessageBoxRequest& request) {
    // A window not shown yet (start-up) has no place to centre on: the box
    // then takes the middle of the screen.
    QWidget* parent = request.parent != nullptr && request.parent->isVisible()
                          ? request.parent->window()
                          : nullptr;
    QMessageBox box(parent);
    // The operator answers before anything else in the program goes on.
    box.setWindowModality(Qt::ApplicationModal);
    box.setIcon(IconOf(request.style));
    box.setText(request.text);
    box.setWindowTitle(request.title.value_or(QGuiApplication::applicationDisplayName()));
    if (!IsYesNo(request.style)) {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();
        return kAnswerOk;
    }
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    const bool noIsDefault = (request.style & kDefaultMask) == kDefaultSecond;
    box.setDefaultButton(noIsDefault ? QMessageBox::No : QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Yes) ? kAnswerYes : kAnswerNo;
}

} // namespace

int ShowMessageBox(const QString& text, int style, std::optional<QString> title, QWidget* parent) {
    const MessageBoxRequest request{text, style, std::move(title), parent};
    // A copy, so a handler may replace itself while it runs.
    if (const MessageBoxHandler handler = Handler()) {
        return handler(request);
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return AnswerWithoutScreen(request);
    }
    return ShowRealBox(request);
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
    Handler() = std::move(handler);
}

} // namespace ufd
