#include "platform/beep.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace ufd {
namespace {

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
