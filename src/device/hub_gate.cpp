#include "device/hub_gate.h"

#include <map>

namespace ufd {

HubGate* HubGate::For(const std::string& hub) {
    if (hub.empty()) {
        return nullptr;
    }
    static std::mutex registry;
    static std::map<std::string, std::unique_ptr<HubGate>> gates;
    std::lock_guard lock(registry);
    auto& gate = gates[hub];
    if (!gate) {
        gate = std::make_unique<HubGate>();
    }
    return gate.get();
}

void HubGate::EnterShared() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !alone_ && waitingAlone_ == 0; });
    ++shared_;
}

void HubGate::LeaveShared() {
    std::lock_guard lock(mutex_);
    --shared_;
    changed_.notify_all();
}

void HubGate::EnterAlone() {
    std::unique_lock lock(mutex_);
    ++waitingAlone_;
    changed_.wait(lock, [&] { return !alone_ && shared_ == 0; });
    --waitingAlone_;
    alone_ = true;
}

void HubGate::LeaveAlone() {
    std::lock_guard lock(mutex_);
    alone_ = false;
    changed_.notify_all();
}

} // namespace ufd
