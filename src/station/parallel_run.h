// The run with [Run] Parallel=true: each item's drive half runs for every
// slot at once, one worker thread per slot with a context of its own (the
// buffers, the reply files), while the window's thread keeps dispatching
// events, moves the progress bars as the workers report, and shows each
// slot's results in slot order, so that captions carried from slot to slot
// come out as in a sequential run.
#pragma once

#include "context/station_context.h"
#include "station/dependencies.h"
#include "station/run_view.h"
#include "station/slot_items.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace ufd {

class ParallelRun {
public:
    // pause: the pause before a slot's format, called on that slot's worker
    // thread (row, seconds); empty: a plain sleep. start: starts a worker
    // thread; empty: std::thread.
    ParallelRun(StationContext& ctx, const DeviceProcedures& dev, RunView& view,
                std::function<void(int, float)> pause,
                std::function<std::thread(std::function<void()>)> start = {});
    ParallelRun(const ParallelRun&) = delete;
    ParallelRun& operator=(const ParallelRun&) = delete;
    ~ParallelRun();

    // One item over slots 0..DiskCount-1. Failed when any slot failed it;
    // Gone when the view went away (every worker has ended by then). shown
    // hears each slot on the window's thread once its results are shown.
    SlotOutcome Item(RunItem item, CarriedCaptions& carried,
                     const std::function<void(int)>& shown = {});

    // Leaves in the shared context the buffers a sequential run would have
    // left there: those of the last slot.
    void Finish();

private:
    struct Worker;

    StationContext& ctx_;
    const DeviceProcedures& dev_;
    RunView& view_;
    std::function<void(int, float)> pause_;
    std::function<std::thread(std::function<void()>)> start_;
    std::atomic<bool> stop_{false};
    std::vector<std::unique_ptr<Worker>> workers_;
};

} // namespace ufd
