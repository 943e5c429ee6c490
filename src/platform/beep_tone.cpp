#include "platform/beep_tone.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

namespace ufd {

QByteArray BeepTone(int sampleRate) {
    if (sampleRate <= 0) {
        return {};
    }
    const int count = sampleRate * kBeepToneMs / 1000;
    const int fade = std::max(1, sampleRate * kBeepFadeMs / 1000);
    QByteArray bytes(static_cast<qsizetype>(count) * 2, '\0');
    for (int i = 0; i < count; ++i) {
        // Raised-cosine ramps in and out.
        const int edge = std::min(i, count - 1 - i);
        const double ramp =
            edge >= fade ? 1.0 : 0.5 - 0.5 * std::cos(std::numbers::pi * edge / fade);
        const double phase = 2.0 * std::numbers::pi * kBeepToneHz * i / sampleRate;
        const auto sample =
            static_cast<int16_t>(std::lround(32767.0 * kBeepLevel * ramp * std::sin(phase)));
        std::memcpy(bytes.data() + static_cast<qsizetype>(i) * 2, &sample, 2);
    }
    return bytes;
}

} // namespace ufd
