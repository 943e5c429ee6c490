// The station's beep as sound: a short tone, so that it is heard on a
// desktop that mutes the bell.
#pragma once

#include <QByteArray>

namespace ufd {

inline constexpr int kBeepToneHz = 880;
inline constexpr int kBeepToneMs = 60; // shorter than the run's 0.1 s pause
inline constexpr int kBeepFadeMs = 5;  // no click at either end
inline constexpr double kBeepLevel = 0.5;

// The tone as signed 16-bit mono samples in the machine's byte order.
QByteArray BeepTone(int sampleRate);

} // namespace ufd
