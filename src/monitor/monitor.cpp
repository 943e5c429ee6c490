#include "monitor/monitor.h"

#include "monitor/udev_events.h"
#include "platform/notice_channel.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace ufd {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point when) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

} // namespace

Monitor::Monitor(MonitorSettings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), burstTimer_(new QTimer(this)),
      rackTimer_(new QTimer(this)), sendTimer_(new QTimer(this)), orphan_(settings_.grace),
      presenceTimer_(new QTimer(this)) {
    const QString channel = settings_.channel;
    const int timeout = settings_.sendTimeoutMilliseconds;
    send_ = [channel, timeout](const QByteArray& text, std::optional<pid_t>* listener) {
        const Delivery delivery = DeliverNotice(text, channel, timeout);
        *listener = delivery.listener;
        return delivery.delivered;
    };
    probe_ = [this, channel] {
        return ChannelLooksListening(ChannelSocketFile(channel), refused_);
    };

    burstTimer_->setSingleShot(true);
    connect(burstTimer_, &QTimer::timeout, this, &Monitor::OnBurstDue);
    sendTimer_->setSingleShot(true);
    connect(sendTimer_, &QTimer::timeout, this, &Monitor::TrySend);
    connect(rackTimer_, &QTimer::timeout, this, &Monitor::OnRackPoll);
    connect(presenceTimer_, &QTimer::timeout, this, &Monitor::CheckListener);
}

Monitor::~Monitor() = default;

void Monitor::WatchDevices(DeviceEventSource& source) {
    devices_ = &source;
    for (const std::string& devpath : source.PresentUsbDisks()) {
        tracker_.Know(devpath);
    }
    if (source.Descriptor() >= 0) {
        deviceNotifier_ = new QSocketNotifier(source.Descriptor(), QSocketNotifier::Read, this);
        connect(deviceNotifier_, &QSocketNotifier::activated, this, &Monitor::OnDeviceEvents);
    }
}

void Monitor::WatchRack(PluggedStateSource& source) {
    rack_ = std::make_unique<RackWatch>(source);
    rack_->Start();
    rackTimer_->start(static_cast<int>(settings_.rackPoll.count()));
}

void Monitor::WatchStation() {
    if (settings_.stationPid) {
        FollowStation(*settings_.stationPid);
        return;
    }
    watchingListener_ = true;
    CheckListener();
    presenceTimer_->start(static_cast<int>(settings_.presenceCheck.count()));
}

void Monitor::FollowStation(pid_t pid) {
    presenceTimer_->stop();
    station_ = new ProcessWatch(pid, this);
    connect(station_, &ProcessWatch::Ended, this, [this] { End("the station has ended"); });
}

void Monitor::OnDeviceEvents() {
    if (devices_ == nullptr) {
        return;
    }
    const Clock::time_point now = Clock::now();
    for (const DeviceEvent& event : devices_->Drain()) {
        if (const auto change = tracker_.Classify(event)) {
            coalescer_.Add(*change, now);
        }
    }
    if (const auto deadline = coalescer_.Deadline()) {
        burstTimer_->start(MillisecondsUntil(*deadline));
    }
}

void Monitor::OnBurstDue() {
    const auto kind = coalescer_.TakeIfDue(Clock::now(), [this](const std::string& devpath) {
        return devices_ != nullptr && devices_->Present(devpath);
    });
    if (kind) {
        Post(*kind);
    } else if (const auto deadline = coalescer_.Deadline()) {
        burstTimer_->start(MillisecondsUntil(*deadline));
    }
}

void Monitor::OnRackPoll() {
    if (!rack_) {
        return;
    }
    if (const auto kind = rack_->Poll()) {
        Post(*kind);
    }
}

void Monitor::Post(NoticeKind kind) {
    pending_.Post(kind, Clock::now());
    TrySend();
}

void Monitor::TrySend() {
    const auto kind = pending_.Due(Clock::now());
    if (!kind) {
        ArmSendTimer();
        return;
    }
    std::optional<pid_t> listener;
    if (send_(NoticeText(*kind), &listener)) {
        refused_.reset();
        pending_.Delivered();
        orphan_.Observe(true, Clock::now());
        // A station that did not name itself is known from here on by the
        // process that took its notice, and followed like a named one.
        if (watchingListener_ && station_ == nullptr && listener) {
            FollowStation(*listener);
        }
    } else {
        // Remembered so that this socket file no longer counts as a
        // listener; a new one (the station started again) does.
        refused_ = ChannelSocketFile(settings_.channel);
        pending_.Failed(Clock::now());
    }
    ArmSendTimer();
}

void Monitor::ArmSendTimer() {
    if (const auto next = pending_.NextAttempt()) {
        sendTimer_->start(MillisecondsUntil(*next));
    } else {
        sendTimer_->stop();
    }
}

void Monitor::CheckListener() {
    const Clock::time_point now = Clock::now();
    orphan_.Observe(probe_(), now);
    if (orphan_.Orphaned(now)) {
        End("nobody has listened on the notice channel for the whole grace period");
    }
}

void Monitor::End(const char* why) {
    if (ended_) {
        return;
    }
    ended_ = true;
    std::fprintf(stderr, "Vasket: stopping: %s\n", why);
    rackTimer_->stop();
    presenceTimer_->stop();
    sendTimer_->stop();
    burstTimer_->stop();
    emit Ended();
}

} // namespace ufd
