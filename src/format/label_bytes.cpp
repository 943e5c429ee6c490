#include "format/label_bytes.h"

#include "config/ansi.h"
#include "format/sector_layout.h"

#include <algorithm>

namespace ufd {

using namespace layout;

std::array<uint8_t, 11> LabelAnsiBytes(const QString& label) {
    std::array<uint8_t, 11> out;
    out.fill(' ');
    const qsizetype n = std::min<qsizetype>(label.size(), dir::kNameLength);
    for (qsizetype i = 0; i < n; ++i) {
        if (const auto code = AnsiCode(label[i])) {
            out[static_cast<size_t>(i)] = *code;
        }
    }
    return out;
}

bool LabelIsBlank(const std::array<uint8_t, 11>& bytes) {
    return std::ranges::all_of(bytes, [](uint8_t b) { return b == ' '; });
}

} // namespace ufd
