// The stick's USB side: one FunctionFS instance (a mounted functionfs
// folder) carrying a mass-storage Bulk-Only interface with one bulk IN and
// one bulk OUT endpoint. ep0's events (enable, disable, class requests) are
// served on a thread of their own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <thread>

namespace stick {

class FunctionFs {
public:
    // Writes the descriptors and strings to ep0 and opens the endpoints;
    // throws std::runtime_error saying what failed.
    explicit FunctionFs(const std::filesystem::path& dir);
    ~FunctionFs();
    FunctionFs(const FunctionFs&) = delete;
    FunctionFs& operator=(const FunctionFs&) = delete;

    // Blocks until the host has configured the interface (the stick is plugged).
    void waitEnabled();
    // One bulk OUT transfer of at most buffer.size() bytes; -1 when the stick
    // was unplugged or reset meanwhile.
    ssize_t receive(std::span<uint8_t> buffer);
    // Exactly data.size() bytes over bulk IN; false when that failed.
    bool send(std::span<const uint8_t> data);

private:
    void serveEp0();

    int ep0_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool enabled_ = false;
    std::thread ep0Thread_;
};

} // namespace stick
