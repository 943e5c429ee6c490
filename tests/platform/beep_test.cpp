#include "platform/beep.h"
#include "platform/beep_tone.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace ufd {
namespace {

TEST(BeepTone, LengthPitchLevelAndQuietEnds) {
    for (int rate : {8000, 44100, 48000}) {
        SCOPED_TRACE(rate);
        const QByteArray bytes = BeepTone(rate);
        const int count = rate * kBeepToneMs / 1000;
        ASSERT_EQ(bytes.size(), count * 2);
        std::vector<int16_t> s(static_cast<size_t>(count));
        std::memcpy(s.data(), bytes.constData(), bytes.size());
        int crossings = 0;
        int peak = 0;
        for (size_t i = 1; i < s.size(); ++i) {
            crossings += (s[i - 1] < 0) != (s[i] < 0) ? 1 : 0;
            peak = std::max(peak, std::abs(static_cast<int>(s[i])));
        }
        // 880 Hz for 60 ms: 52.8 periods, two crossings each.
        EXPECT_NEAR(crossings, 2 * kBeepToneHz * kBeepToneMs / 1000.0, 2);
        EXPECT_NEAR(peak, 32767 * kBeepLevel, 32767 * kBeepLevel * 0.05);
        // The fades start and end at silence: no click.
        EXPECT_LE(std::abs(s.front()), 200);
        EXPECT_LE(std::abs(s.back()), 200);
    }
    EXPECT_TRUE(BeepTone(0).isEmpty());
}

// No sound server to reach: the bell, at once. Runs in a process of its own
// (ctest runs each test alone), before anything opened the sound system.
TEST(Beep, FallsBackToTheBellWithoutASoundServer) {
    QTemporaryDir nowhere;
    qputenv("PULSE_SERVER", "unix:" + nowhere.filePath("none").toUtf8());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Beep(), BeepSound::Bell);
    EXPECT_EQ(Beep(), BeepSound::Bell);
    EXPECT_LT(clock.elapsed(), 5000);

    int heard = 0;
    SetBeepHandler([&heard] { ++heard; });
    EXPECT_EQ(Beep(), BeepSound::Handler);
    SetBeepHandler({});
    EXPECT_EQ(heard, 1);
}

} // namespace
} // namespace ufd
