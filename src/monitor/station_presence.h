// Whether the station Vasket serves is still there. The station is never
// asked to stop its monitor, so Vasket ends itself:
//  - when the station told it its process id ($UFD_STATION_PID), as soon
//    as that process has ended;
//  - otherwise when the station has not been listening on the notice
//    channel for a whole grace period (50 s; $UFD_MONITOR_GRACE_SECONDS
//    changes it). It is not asked by connecting (on this channel every
//    connection is a notice): a station that closes its channel removes the
//    socket file, and one that died leaves a file that refuses the next
//    notice. The kernel's socket table cannot tell either: the local server
//    binds in a private directory and renames the socket into place, so the
//    table shows a path that is not the channel's.
#pragma once

#include "base/unique_fd.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <optional>
#include <sys/types.h>

class QSocketNotifier;
class QTimer;

namespace ufd {

// The socket file behind a notice channel name, as the local server makes it.
QString ChannelSocketPath(const QString& channelName);

// Which socket file the channel has now; a station that starts again
// makes a new one. Nothing when there is none.
struct SocketFileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const SocketFileIdentity&) const = default;
};
std::optional<SocketFileIdentity> ChannelSocketFile(const QString& channelName);

// Listening as far as can be told without connecting: the socket file is
// there and is not the one that refused the last notice.
bool ChannelLooksListening(const std::optional<SocketFileIdentity>& now,
                           const std::optional<SocketFileIdentity>& refused);

// A process id from text such as the environment gives it; nothing for
// garbage, zero or negative values.
std::optional<pid_t> ParseProcessId(const QByteArray& text);

// Counts how long the channel has had no listener.
class OrphanRule {
public:
    using Clock = std::chrono::steady_clock;
    explicit OrphanRule(std::chrono::milliseconds grace) : grace_(grace) {}
    void Observe(bool listening, Clock::time_point now);
    bool Orphaned(Clock::time_point now) const;

private:
    std::chrono::milliseconds grace_;
    std::optional<Clock::time_point> silentSince_;
};

// Signals once when a process has ended; a pidfd where the kernel offers
// one, else a check every half second.
class ProcessWatch : public QObject {
    Q_OBJECT
public:
    explicit ProcessWatch(pid_t pid, QObject* parent = nullptr);
    ~ProcessWatch() override;
    bool Alive() const;

signals:
    void Ended();

private:
    void Check();

    pid_t pid_;
    UniqueFd pidfd_;
    bool ended_ = false;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* timer_ = nullptr;
};

} // namespace ufd
