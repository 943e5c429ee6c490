#include "settings/plain_text.h"

#include <algorithm>

namespace ufd {

std::optional<QString> PlainTextRefusal(const QString& text, const Translate& tr) {
    if (std::ranges::any_of(text, [](QChar c) { return c.category() == QChar::Other_Control; })) {
        return tr(kRefusalContext,
                  QT_TRANSLATE_NOOP("Refusals", "must not hold control characters"));
    }
    return std::nullopt;
}

} // namespace ufd
