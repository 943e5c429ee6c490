// A text the database holds (a serial, station id, port, operator, lot...) as
// ufd-results prints it. A record written by an older station can still hold
// a newline, a tab or an escape sequence: printed raw, it would forge a line
// of output or drive the terminal.
#pragma once

#include <QByteArray>
#include <QString>

namespace ufd {

// One run of visible text: a backslash doubled; newline, CR and tab as \n, \r,
// \t; every other control character (C0, DEL, C1, the Unicode line and
// paragraph separators) as \uXXXX.
QString Visible(const QString& text);

// Compact JSON lines as QJsonDocument writes them, with the control characters it
// leaves raw (DEL, C1, the line and paragraph separators) written as \uXXXX
// escapes: the same JSON value, and nothing a terminal acts on.
QByteArray TerminalSafeJson(const QByteArray& json);

} // namespace ufd
