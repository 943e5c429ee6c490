// Modal operator messages. One function shows them all; tests replace the
// operator with a script.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

namespace ufd {

inline constexpr int kStyleStop = 16;        // OK, stop icon
inline constexpr int kStyleExclamation = 48; // OK, exclamation icon
inline constexpr int kStyleYesNoInfo = 324;  // Yes/No, information icon, No default

inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

struct MessageBoxRequest {
    QString text;
    int style = kStyleStop;
    std::optional<QString> title; // nullopt: the application's default title
    // The window the box belongs to: it sits centred over it and blocks it.
    QWidget* parent = nullptr;
};

using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// Shows the box (a QMessageBox unless a handler is installed) and returns
// the answer: kAnswerOk, kAnswerYes or kAnswerNo.
int ShowMessageBox(const QString& text, int style, std::optional<QString> title = std::nullopt,
                   QWidget* parent = nullptr);
// Installs a replacement operator; an empty handler restores the real boxes.
void SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace ufd
