// Words made before the station's language is known (the command line,
// station.conf's checks) are marked where they are made and put into a
// language where they are printed: their maker takes a Translate, English by
// default, so every caller that does not ask keeps the English texts.
#pragma once

#include <QString>

#include <functional>

namespace ufd {

// The translation context of the refusals' marks (QT_TRANSLATE_NOOP).
inline constexpr const char* kRefusalContext = "Refusals";

// A marked text of `context` in the language shown.
using Translate = std::function<QString(const char* context, const char* english)>;

inline QString English(const char* /*context*/, const char* english) {
    return QString::fromUtf8(english);
}

} // namespace ufd
