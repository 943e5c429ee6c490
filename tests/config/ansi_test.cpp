#include "config/ansi.h"

#include <gtest/gtest.h>

namespace ufd {
namespace {

QByteArray AllBytes() {
    QByteArray bytes;
    for (int b = 0; b < 256; ++b) {
        bytes.append(static_cast<char>(b));
    }
    return bytes;
}

TEST(Ansi, EveryByteDecodesAsWindows1252AndEncodesBack) {
    // Code points published for the page, byte 0x80 first; the rest of the
    // bytes are their own code points.
    const char16_t high[32] = {
        u'€', 0x0081, u'‚',   u'ƒ', u'„',   u'…',   u'†', u'‡',   u'ˆ', u'‰', u'Š',
        u'‹', u'Œ',   0x008D, u'Ž', 0x008F, 0x0090, u'‘', u'’',   u'“', u'”', u'•',
        u'–', u'—',   u'˜',   u'™', u'š',   u'›',   u'œ', 0x009D, u'ž', u'Ÿ',
    };
    const QString text = FromAnsi(AllBytes());
    ASSERT_EQ(text.size(), 256);
    for (int b = 0; b < 256; ++b) {
        const char16_t expected = b >= 0x80 && b <= 0x9F ? high[b - 0x80] : char16_t(b);
        EXPECT_EQ(text.at(b).unicode(), expected) << std::hex << b;
        EXPECT_EQ(AnsiCode(text.at(b)), std::optional(static_cast<unsigned char>(b)))
            << std::hex << b;
    }
    EXPECT_EQ(ToAnsi(text), AllBytes());
}

} // namespace
} // namespace ufd
