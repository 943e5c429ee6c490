// Vasket's running part: watches drives (udev or the simulator's rack),
// delivers notices to the station and ends itself once the station is gone.
#pragma once

#include "monitor/burst_coalescer.h"
#include "monitor/device_filter.h"
#include "monitor/pending_notice.h"
#include "monitor/rack_watch.h"
#include "monitor/station_presence.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;
class QTimer;

namespace ufd {

class DeviceEventSource;

struct MonitorSettings {
    QString channel;
    std::optional<pid_t> stationPid;
    // With the 1 s check, an orphaned monitor is gone within a minute.
    std::chrono::milliseconds grace{50000};
    std::chrono::milliseconds rackPoll{75};
    std::chrono::milliseconds presenceCheck{1000};
    int sendTimeoutMilliseconds = 1000;
};

class Monitor : public QObject {
    Q_OBJECT
public:
    // Whether the notice was delivered, and to which process if known.
    using Sender = std::function<bool(const QByteArray& text, std::optional<pid_t>* listener)>;
    using ListenerProbe = std::function<bool()>;

    // Sends through the notice channel and judges whether the station
    // listens (socket file there, last notice not refused) unless replaced.
    explicit Monitor(MonitorSettings settings, QObject* parent = nullptr);
    ~Monitor() override;

    void SetSender(Sender sender) { send_ = std::move(sender); }
    void SetListenerProbe(ListenerProbe probe) { probe_ = std::move(probe); }

    // Real drives. The source must outlive the monitor.
    void WatchDevices(DeviceEventSource& source);
    // Simulated drives. The source must outlive the monitor.
    void WatchRack(PluggedStateSource& source);
    // Starts watching the station; Ended fires once it is gone.
    void WatchStation();

    const PendingNotice& Pending() const { return pending_; }

signals:
    void Ended();

private:
    void OnDeviceEvents();
    void OnBurstDue();
    void OnRackPoll();
    void Post(NoticeKind kind);
    void TrySend();
    void ArmSendTimer();
    void CheckListener();
    void FollowStation(pid_t pid);
    void End(const char* why);

    MonitorSettings settings_;
    Sender send_;
    ListenerProbe probe_;
    // The socket file that refused the last notice (a dead station's).
    std::optional<SocketFileIdentity> refused_;

    DeviceEventSource* devices_ = nullptr;
    UsbDiskTracker tracker_;
    BurstCoalescer coalescer_;
    QSocketNotifier* deviceNotifier_ = nullptr;
    QTimer* burstTimer_;

    std::unique_ptr<RackWatch> rack_;
    QTimer* rackTimer_;

    PendingNotice pending_;
    QTimer* sendTimer_;

    OrphanRule orphan_;
    QTimer* presenceTimer_;
    ProcessWatch* station_ = nullptr;
    bool watchingListener_ = false;
    bool ended_ = false;
};

} // namespace ufd
