// One Vasket per notice channel: the first one holds an flock on a lock
// file named after the channel for as long as it runs; the kernel drops the
// lock when the process ends, however it ends, so no stale lock survives.
#pragma once

#include "base/unique_fd.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <sys/types.h>

namespace ufd {

// "<private runtime directory>/vasket-<channel>.lock", the channel name made
// safe for a file name. Empty, and the refusal naming the directory in
// *refusal, when the runtime directory fails its check.
QString InstanceLockPath(const QString& channelName, QString* refusal = nullptr);

class InstanceLock {
public:
    // Takes the lock without waiting; nothing when another process holds it
    // (*held true) or the file cannot be opened (*held false).
    static std::optional<InstanceLock> TryAcquire(const QString& path, bool* held = nullptr);

    // Records who holds the lock and for which station, for the next one
    // who finds it taken.
    void WriteOwner(pid_t monitor, std::optional<pid_t> station);
    // Stamps the lock file with the time: the holder's heartbeat, given from
    // its event loop every kMonitorBeat, so a holder that is stopped or hung
    // (or no monitor at all) is told from a working one.
    void Beat();

private:
    explicit InstanceLock(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

inline constexpr std::chrono::milliseconds kMonitorBeat{1000};

// The station process id that the lock's holder wrote, if readable.
std::optional<pid_t> ReadOwnerStation(const QString& path);

// The Vasket serving the channel: the process id its lock records, while
// that process runs. Nothing when none does (never started, or it died).
std::optional<pid_t> ChannelMonitor(const QString& channelName);

// The channel's lock file's last heartbeat (its modification time, in ns),
// if the file can be read: a value that stops changing is a monitor that no
// longer answers.
std::optional<int64_t> ChannelMonitorBeat(const QString& channelName);

} // namespace ufd
