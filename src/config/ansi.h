// The station's "ANSI code page" on Linux is Windows-1252: Product.ini, the
// notices and the label bytes are single bytes in it.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace ufd {

QString FromAnsi(const QByteArray& bytes);
// nullopt if any character has no single-byte code.
std::optional<QByteArray> ToAnsi(const QString& text);
// One character's code; nullopt if it has none.
std::optional<unsigned char> AnsiCode(QChar c);

} // namespace ufd
