#include "settings/plain_text.h"

#include <algorithm>

namespace ufd {

std::optional<QString> PlainTextRefusal(const QString& text) {
    if (std::ranges::any_of(text, [](QChar c) { return c.category() == QChar::Other_Control; })) {
        return QStringLiteral("must not hold control characters");
    }
    return std::nullopt;
}

} // namespace ufd
