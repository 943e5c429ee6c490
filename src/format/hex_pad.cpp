#include "format/volume.h"

namespace ufd {

QString HexPad(int32_t value, int16_t width, bool prefix) {
    // The unsigned view gives a negative value its eight two's-complement digits.
    QString digits = QString::number(static_cast<uint32_t>(value), 16).toUpper();
    if (digits.size() < width) {
        digits.prepend(QString(width - digits.size(), QLatin1Char('0')));
    }
    return prefix ? QStringLiteral("0x") + digits : digits;
}

} // namespace ufd
