#include "platform/beep.h"

#include "platform/beep_tone.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace ufd {

namespace {

std::function<void()>& BeepHandler() {
    static std::function<void()> handler;
    return handler;
}

constexpr int kSampleRate = 48000;
// The sound server starts a stream once its buffer is full. The buffer asked
// for comes out about one tone long (the server grants less than asked), so
// a tone goes in whole in one write and plays without waiting on the event
// loop; the feeder below only matters where the buffer is shorter.
constexpr int kBufferMs = 80;
// A buffer longer than the tone is filled up with silence, so long as that
// still ends before the run's next beep, 0.1 s later.
constexpr int kLongestWriteMs = 90;
constexpr int kFeedMs = 5;

// One output stream for the whole program, opened at the first beep and
// reopened when the sound server went away. Owned by the application.
class ToneOutput : public QObject {
public:
    explicit ToneOutput(QObject* parent) : QObject(parent), tone_(BeepTone(kSampleRate)) {
        feeder_.setInterval(kFeedMs);
        QObject::connect(&feeder_, &QTimer::timeout, this, [this] { Feed(); });
    }

    bool Play() {
        if (!Usable() && !Open()) {
            return false;
        }
        // A tone still playing from just before: the new one follows it.
        // Beeps that come faster than they play are not piled up.
        if (pending_.size() < 4 * unit_.size()) {
            pending_.append(unit_);
        }
        Feed();
        return sink_->error() == QAudio::NoError;
    }

private:
    bool Usable() const {
        return sink_ != nullptr && device_ != nullptr && sink_->error() == QAudio::NoError &&
               sink_->state() != QAudio::StoppedState;
    }

    // The device buffer is shorter than the tone: the rest goes in as room
    // frees up, from the event loop the caller's pause keeps running.
    void Feed() {
        if (!Usable()) {
            pending_.clear();
        }
        if (!pending_.isEmpty()) {
            const qint64 n = device_->write(pending_.constData(),
                                            std::min<qint64>(sink_->bytesFree(), pending_.size()));
            pending_.remove(0, std::max<qint64>(n, 0));
        }
        if (pending_.isEmpty()) {
            feeder_.stop();
        } else if (!feeder_.isActive()) {
            feeder_.start();
        }
    }

    bool Open() {
        delete sink_;
        sink_ = nullptr;
        device_ = nullptr;
        const QAudioDevice output = QMediaDevices::defaultAudioOutput();
        if (output.isNull()) {
            return false;
        }
        QAudioFormat format;
        format.setSampleRate(kSampleRate);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        if (!output.isFormatSupported(format)) {
            return false;
        }
        sink_ = new QAudioSink(output, format, this);
        sink_->setBufferSize(format.bytesForDuration(kBufferMs * 1000));
        device_ = sink_->start();
        unit_ = tone_;
        const qsizetype buffer = sink_->bufferSize();
        if (buffer > unit_.size() && buffer <= format.bytesForDuration(kLongestWriteMs * 1000)) {
            unit_.append(QByteArray(buffer - unit_.size(), '\0'));
        }
        return device_ != nullptr && sink_->error() == QAudio::NoError;
    }

    QByteArray tone_;
    QByteArray unit_; // what one beep writes: the tone, maybe with silence
    QByteArray pending_;
    QTimer feeder_;
    QAudioSink* sink_ = nullptr;
    QIODevice* device_ = nullptr;
};

ToneOutput* Output() {
    static QPointer<ToneOutput> output;
    if (output.isNull()) {
        output = new ToneOutput(QCoreApplication::instance());
    }
    return output.data();
}

} // namespace

BeepSound Beep() {
    if (const std::function<void()> handler = BeepHandler()) {
        handler();
        return BeepSound::Handler;
    }
    // Without a GUI application there is no platform to beep with.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return BeepSound::None;
    }
    if (Output()->Play()) {
        return BeepSound::Tone;
    }
    QApplication::beep();
    return BeepSound::Bell;
}

void SetBeepHandler(std::function<void()> handler) {
    BeepHandler() = std::move(handler);
}

} // namespace ufd
