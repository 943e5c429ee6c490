#include "terminal_text.h"

namespace ufd {

namespace {

bool Control(char16_t u) {
    return u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029;
}

QString Escape(char16_t u) {
    return QStringLiteral("\\u") + QStringLiteral("%1").arg(int{u}, 4, 16, QLatin1Char('0'));
}

} // namespace

QString Visible(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\') {
            out += QStringLiteral("\\\\");
        } else if (u == u'\n') {
            out += QStringLiteral("\\n");
        } else if (u == u'\r') {
            out += QStringLiteral("\\r");
        } else if (u == u'\t') {
            out += QStringLiteral("\\t");
        } else if (Control(u)) {
            out += Escape(u);
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray TerminalSafeJson(const QByteArray& json) {
    // The writer escapes C0 inside strings itself, so a raw newline is a line
    // end of JSON lines; the rest can only be raw characters of a value.
    const QString text = QString::fromUtf8(json);
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        out += u != u'\n' && Control(u) ? Escape(u) : QString(c);
    }
    return out.toUtf8();
}

} // namespace ufd
