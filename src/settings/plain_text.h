// A name a person typed that the window shows and the records keep (the
// station's id, a socket's label, the operator, the lot): one line of
// printable text, so a stored name can never forge a line of what the tools
// print nor reach a terminal as an escape sequence.
#pragma once

#include "settings/translate.h"

#include <QString>

#include <optional>

namespace ufd {

// Why text cannot be such a name, or nothing when it can.
std::optional<QString> PlainTextRefusal(const QString& text, const Translate& tr = English);

} // namespace ufd
