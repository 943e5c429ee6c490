// A private sound server with one null sink, and a recorder of what reaches
// it: the station's beep is heard and measured without a sound card. The
// server runs in a temporary directory of its own and ends with the object.
#pragma once

#include "support/test_common.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <ranges>

namespace ufd::test {

inline constexpr int kSinkRate = 48000;

class NullSink {
public:
    // -n: no default script, so the null sink is the only (so the default) sink.
    NullSink() {
        if (QStandardPaths::findExecutable("parec").isEmpty() || !dir_.isValid()) {
            return;
        }
        server_.setEnvironment(QProcess::systemEnvironment() +
                               QStringList{"HOME=" + dir_.path(),
                                           "PULSE_RUNTIME_PATH=" + dir_.filePath("runtime"),
                                           "PULSE_STATE_PATH=" + dir_.filePath("state")});
        server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QString args = "-n -L \"module-null-sink sink_name=line rate=%1 channels=1\" -L "
                             "\"module-native-protocol-unix auth-anonymous=1 socket=%2\" "
                             "--daemonize=no --exit-idle-time=-1 --use-pid-file=no "
                             "--log-target=stderr --log-level=error";
        server_.start("pulseaudio",
                      QProcess::splitCommand(args.arg(kSinkRate).arg(dir_.filePath("native"))));
        ok_ = server_.waitForStarted(5000) &&
              QTest::qWaitFor([this] { return QFile::exists(dir_.filePath("native")); }, 10000);
    }
    ~NullSink() {
        for (QProcess* p : {&recorder_, &server_}) {
            p->terminate(); // one that does not end is killed by ~QProcess
            p->waitForFinished(5000);
        }
    }

    bool Ok() const { return ok_; }
    // For PULSE_SERVER of the process that plays.
    QByteArray Server() const { return "unix:" + dir_.filePath("native").toUtf8(); }

    // Records the sink's output from now on; true once sound data flows.
    bool StartRecording() {
        recorder_.start("parec", {"--server=" + Server(), "--raw", "--format=s16le",
                                  QString("--rate=%1").arg(kSinkRate), "--channels=1",
                                  "--latency-msec=10", "--device=line.monitor"});
        return recorder_.waitForStarted(5000) && recorder_.waitForReadyRead(5000);
    }
    // Everything recorded, as samples.
    std::vector<int16_t> StopRecording() {
        recorder_.waitForReadyRead(100);
        const QByteArray bytes = recorder_.readAllStandardOutput();
        recorder_.terminate();
        recorder_.waitForFinished(5000);
        std::vector<int16_t> samples(static_cast<size_t>(bytes.size() / 2));
        std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
        return samples;
    }

private:
    QTemporaryDir dir_;
    QProcess server_, recorder_;
    bool ok_ = false;
};

// One tone found in a recording: its start and length in seconds, and its
// pitch from its zero crossings.
struct HeardTone {
    double start = 0, length = 0, hz = 0;
};

// Tones are runs of 5 ms blocks whose peak stands well above silence; the
// pitch comes from the first to the last zero crossing inside the run.
inline std::vector<HeardTone> FindTones(const std::vector<int16_t>& samples, int16_t threshold) {
    constexpr size_t kBlock = kSinkRate / 200;
    std::vector<HeardTone> tones;
    size_t start = 0; // 0 means "not in a tone", else the tone's first sample + 1
    for (size_t b = 0; b <= samples.size(); b += kBlock) {
        const size_t end = std::min(b + kBlock, samples.size());
        const bool loud = std::any_of(samples.begin() + b, samples.begin() + end,
                                      [&](int16_t v) { return std::abs(int(v)) > threshold; });
        if (loud && start == 0) {
            start = b + 1;
        } else if (!loud && start != 0) {
            std::vector<size_t> at; // the zero crossings
            std::ranges::copy_if(std::views::iota(start, b), std::back_inserter(at), [&](size_t i) {
                return (samples[i - 1] < 0) != (samples[i] < 0);
            });
            const double span = at.empty() ? 0 : double(at.back() - at.front()) / kSinkRate;
            tones.push_back({double(start - 1) / kSinkRate, double(b - start + 1) / kSinkRate,
                             span > 0 ? double(at.size() - 1) / 2.0 / span : 0.0});
            start = 0;
        }
    }
    return tones;
}

} // namespace ufd::test
