// The beep as the operator hears it: the station window on the simulated
// rack with "Enable Beep" ticked, its real pauses and its real beep playing
// into a private sound server, recorded and measured.
#include "simulated_run.h"
#include "support/null_sink.h"

#include <cstdio>

namespace ufd {
namespace {

using BeepHeard = SimulatedRun;

TEST_F(BeepHeard, FiveTonesPerFailedDrive) {
    test::NullSink sink;
    if (!sink.Ok()) {
        GTEST_SKIP() << "no private sound server (pulseaudio, pulseaudio-utils)";
    }
    // Before anything in this process opens the sound system.
    qputenv("PULSE_SERVER", sink.Server());
    SetBeepHandler({});
    realPauses = true;
    Open(false);
    frm->Ch->setChecked(true);

    ASSERT_TRUE(sink.StartRecording());
    frm->GoCmd->click();
    ASSERT_EQ(frm->PassLab->text(), kFailed); // drives 5 and 6 fail
    QTest::qWait(300);                        // the last tone plays out
    const auto tones = test::FindTones(sink.StopRecording(), 2000);
    ASSERT_EQ(tones.size(), 10U);
    for (size_t i = 0; i < tones.size(); ++i) {
        SCOPED_TRACE(i);
        std::printf("tone %zu: at %.3f s, %.0f ms, %.0f Hz\n", i, tones[i].start,
                    tones[i].length * 1000, tones[i].hz);
        EXPECT_NEAR(tones[i].length, 0.06, 0.015);
        EXPECT_NEAR(tones[i].hz, 880, 30);
        if (i > 0) {
            // Beep, then the run's pause of 0.1 s before the next one.
            EXPECT_GE(tones[i].start - tones[i - 1].start, 0.085);
            EXPECT_LE(tones[i].start - tones[i - 1].start, 0.3); // a busy machine
        }
    }
}

} // namespace
} // namespace ufd
