// Drives on one USB hub share its bandwidth: a speed figure taken while the
// hub's other drives move data says as much about them as about the drive.
// A drive times its passes alone on its hub: the others' transfers wait
// while it times (their probes and zeros go on before and after), and a
// drive waiting to time goes before any transfer that comes after it.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace ufd {

class HubGate {
public:
    // The process's gate of a hub; null for an empty name (no hub known).
    static HubGate* For(const std::string& hub);

    // One transfer of a drive that is not timing.
    void EnterShared();
    void LeaveShared();
    // A drive's timed pass.
    void EnterAlone();
    void LeaveAlone();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int shared_ = 0;
    int waitingAlone_ = 0;
    bool alone_ = false;
};

} // namespace ufd
