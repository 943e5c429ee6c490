// What the station window needs from the rest of the program, gathered in
// one place so tests can replace the slow or outside parts (the monitor
// start, the waits, the device procedures) and count what they do.
#pragma once

#include "config/product_config.h"
#include "context/station_context.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <thread>

namespace ufd {

class RunRecorder;

// The item procedures of the device command layer, called with a slot number.
struct DeviceProcedures {
    std::function<void(StationContext&, int16_t)> ScanChips;
    std::function<int16_t(StationContext&, int16_t)> LowLevelFormat;
    std::function<int16_t(StationContext&, int16_t, int16_t)> WriteIdentity;
    std::function<int16_t(StationContext&, int16_t)> CheckIdentity;
    std::function<int16_t(StationContext&, int16_t)> CheckWriteProtect;
};

// The real procedures of the device layer.
DeviceProcedures RealDeviceProcedures();

struct StationDependencies {
    std::function<int16_t(ProductConfig&)> readProductConfig;
    std::function<void(StationContext&)> buildSectorTemplates;
    // Starts a program hidden; a result below 32 means it could not start.
    std::function<int(const QString&)> startMonitor;
    // The run's pauses (seconds); they must keep the window live.
    std::function<void(float)> wait;
    // The pause before a slot's format in a parallel run, on that slot's
    // worker thread (row, seconds): it must not touch the window. Empty: a
    // plain sleep.
    std::function<void(int, float)> slotPause;
    // Starts a parallel run's worker thread on the given work; throws
    // std::system_error when no thread can be had. Empty: std::thread.
    std::function<std::thread(std::function<void()>)> startWorker;
    // Lets pending window events run once (the LED loop between passes).
    std::function<void()> pumpEvents;
    DeviceProcedures device;
    // Where the monitor's notices arrive; empty: do not listen.
    QString noticeChannel;
    // Keeps a record of every run; none: nothing is recorded.
    std::shared_ptr<RunRecorder> results;
    // The live monitor of a channel; empty: the monitor is not watched (and
    // never started again).
    std::function<std::optional<pid_t>(const QString&)> monitorAlive;
    // The heartbeat of a channel's monitor (any value that changes with each
    // beat); empty: not listened for.
    std::function<std::optional<int64_t>(const QString&)> monitorBeat;

    // Everything real: Product.ini, the Vasket start, WaitSeconds, libquorlink.
    static StationDependencies Real();
};

} // namespace ufd
