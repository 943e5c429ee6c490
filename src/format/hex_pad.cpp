#include "format/volume.h"

#include "base/hex_digits.h"

namespace ufd {

QString HexPad(int32_t value, int16_t width, bool prefix) {
    // The unsigned view gives a negative value its eight two's-complement digits.
    const QString digits = QString::fromStdString(HexDigits(static_cast<uint32_t>(value), width));
    return prefix ? QStringLiteral("0x") + digits : digits;
}

} // namespace ufd
