#include "station/parallel_run.h"

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace ufd {

namespace {

// How often the window's thread takes what the workers reported (and looks
// whether the window went away): often enough for the bars to move smoothly.
constexpr int kReportPollMs = 10;

} // namespace

// What the workers hand to the window's thread, in the order they handed it.
// A plain mutex, so that every byte crossing threads is ordered by something
// a thread checker sees.
class ReportQueue {
public:
    void Push(std::function<void()> fn) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(fn));
    }
    std::vector<std::function<void()>> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(items_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::function<void()>> items_;
};

// A worker's RunView and ProgressView: everything it reports is queued to
// the window's thread; Gone is the run's stop flag, which that thread sets.
class WorkerReports final : public RunView, public ProgressView {
public:
    WorkerReports(RunView& view, const std::atomic<bool>& stop) : view_(view), stop_(stop) {}

    // The item's queue to the window's thread, the window's progress view
    // and the bar's maximum of the worker's row, taken there before it starts.
    void Begin(ReportQueue* queue, ProgressView* progress, std::optional<double> max) {
        queue_ = queue;
        progress_ = progress;
        max_ = max;
    }

    bool Gone() override { return stop_.load(); }
    void StartProgress(int row) override {
        Forward([row](RunView& v) { v.StartProgress(row); });
    }
    void EndProgress(int row) override {
        Forward([row](RunView& v) { v.EndProgress(row); });
    }
    void ShowResultPair(ResultColumn column, int row) override {
        Forward([=](RunView& v) { v.ShowResultPair(column, row); });
    }
    void HideResultBox(ResultColumn column, ResultBox box, int row) override {
        Forward([=](RunView& v) { v.HideResultBox(column, box, row); });
    }
    void SetResultCaption(ResultColumn column, ResultBox box, int row,
                          const QString& text) override {
        Forward([=](RunView& v) { v.SetResultCaption(column, box, row, text); });
    }
    void SetPicture(int row, int picture) override {
        Forward([=](RunView& v) { v.SetPicture(row, picture); });
    }
    void RepaintPicture(int row) override {
        Forward([row](RunView& v) { v.RepaintPicture(row); });
    }
    void ExplainFailure(ResultColumn column, int row) override {
        Forward([=](RunView& v) { v.ExplainFailure(column, row); });
    }

    std::optional<double> ProgressMax(int) override { return max_; }
    void AdvanceProgress(int row, int step) override {
        ProgressView* progress = progress_;
        RunView& view = view_;
        queue_->Push([&view, progress, row, step] {
            if (progress != nullptr && !view.Gone()) {
                progress->AdvanceProgress(row, step);
            }
        });
    }

    void MediaProgress(int row, double share) override {
        ProgressView* progress = progress_;
        RunView& view = view_;
        queue_->Push([&view, progress, row, share] {
            if (progress != nullptr && !view.Gone()) {
                progress->ShowMediaShare(row, share);
            }
        });
    }

private:
    void Forward(std::function<void(RunView&)> call) {
        RunView& view = view_;
        queue_->Push([&view, call = std::move(call)] {
            if (!view.Gone()) {
                call(view);
            }
        });
    }

    RunView& view_;
    const std::atomic<bool>& stop_;
    ReportQueue* queue_ = nullptr;
    ProgressView* progress_ = nullptr;
    std::optional<double> max_;
};

struct ParallelRun::Worker {
    Worker(const StationContext& shared, RunView& view, const std::atomic<bool>& stop)
        : ctx(shared), reports(view, stop) {
        // Replies of the worker's own thread, starting from what the shared
        // buffers held, as the slot would have found them.
        ReplyFiles own;
        own.DeviceLine = shared.replies.DeviceLine;
        own.CapacityText = shared.replies.CapacityText;
        own.ReplyBuffer = shared.replies.ReplyBuffer;
        ctx.replies = std::move(own);
        ctx.progress = &reports;
    }

    StationContext ctx;
    WorkerReports reports;
    std::thread thread;
    // The drive half's answer; nullopt: it stopped because the view went away.
    std::optional<int16_t> answer;
    bool arrived = false;
};

ParallelRun::ParallelRun(StationContext& ctx, const DeviceProcedures& dev, RunView& view,
                         std::function<void(int, float)> pause,
                         std::function<std::thread(std::function<void()>)> start)
    : ctx_(ctx), dev_(dev), view_(view), pause_(std::move(pause)), start_(std::move(start)) {
    for (int i = 0; i < ctx.slots.DiskCount; ++i) {
        workers_.push_back(std::make_unique<Worker>(ctx, view, stop_));
    }
}

ParallelRun::~ParallelRun() {
    stop_ = true;
    for (auto& w : workers_) {
        if (w->thread.joinable()) {
            w->thread.join();
        }
    }
}

SlotOutcome ParallelRun::Item(RunItem item, CarriedCaptions& carried,
                              const std::function<void(int)>& shown) {
    const int count = static_cast<int>(workers_.size());
    if (count == 0) {
        return SlotOutcome::Ok;
    }
    ReportQueue queue;
    QEventLoop loop;
    int done = 0;
    bool failed = false;
    bool gone = false;

    auto stop = [&] {
        stop_ = true;
        gone = true;
        loop.quit();
    };
    // Results go up in slot order, as each slot and all before it are done.
    auto showReady = [&] {
        while (!gone && done < count && workers_[static_cast<size_t>(done)]->arrived) {
            const int row = done++;
            Worker& w = *workers_[static_cast<size_t>(row)];
            if (!w.answer || view_.Gone()) {
                stop();
                return;
            }
            DiskSlot& slot = ctx_.slots.DiskSlots[static_cast<size_t>(row)];
            slot = w.ctx.slots.DiskSlots[static_cast<size_t>(row)];
            const SlotOutcome outcome = ShowItem(item, view_, slot, row, *w.answer, carried);
            failed = failed || outcome == SlotOutcome::Failed;
            if (shown) {
                shown(row);
            }
        }
        if (done == count) {
            loop.quit();
        }
    };

    for (int row = 0; row < count; ++row) {
        Worker& w = *workers_[static_cast<size_t>(row)];
        // The slot record as the run has it now; the worker changes only its own.
        w.ctx.slots.DiskSlots[static_cast<size_t>(row)] =
            ctx_.slots.DiskSlots[static_cast<size_t>(row)];
        w.answer.reset();
        w.arrived = false;
        w.reports.Begin(&queue, ctx_.progress,
                        ctx_.progress != nullptr ? ctx_.progress->ProgressMax(row) : std::nullopt);
        if (const auto column = PairShownFirst(item)) {
            view_.ShowResultPair(*column, row);
        }
    }

    for (int row = 0; row < count; ++row) {
        Worker& w = *workers_[static_cast<size_t>(row)];
        std::function<void()> work = [this, &w, &queue, &showReady, item, row] {
            const std::function<void(float)> pause = [this, row](float seconds) {
                if (pause_) {
                    pause_(row, seconds);
                } else {
                    std::this_thread::sleep_for(std::chrono::duration<float>(seconds));
                }
            };
            const SlotWork work{w.ctx, dev_, pause, w.reports};
            w.answer = ItemOnDrive(item, work, row);
            queue.Push([&w, &showReady] {
                w.arrived = true;
                showReady();
            });
        };
        // The workers already started report to this call's queue: it must
        // not end early. A slot that gets no thread is done here instead,
        // so the run still covers every slot.
        try {
            w.thread = start_ ? start_(work) : std::thread(work);
        } catch (const std::system_error& e) {
            qWarning("ufd-station: no worker thread for slot %d (%s): it runs on the window's "
                     "thread",
                     row + 1, e.what());
            work();
        }
    }

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        for (auto& report : queue.Take()) {
            if (gone) {
                break;
            }
            report();
        }
        if (!gone && view_.Gone()) {
            stop();
        }
    });
    poll.start(kReportPollMs);
    loop.exec();
    if (done < count && !gone) {
        // The loop ended from outside (the application is quitting).
        stop();
    }
    poll.stop();
    for (auto& w : workers_) {
        if (w->thread.joinable()) {
            w->thread.join();
        }
    }
    // Reports still queued die with the queue.
    if (gone) {
        return SlotOutcome::Gone;
    }
    return failed ? SlotOutcome::Failed : SlotOutcome::Ok;
}

void ParallelRun::Finish() {
    if (workers_.empty()) {
        return;
    }
    const StationContext& last = workers_.back()->ctx;
    ctx_.SectorBuffer = last.SectorBuffer;
    ctx_.ConfigBlock = last.ConfigBlock;
    ctx_.ChipTable = last.ChipTable;
    ctx_.ExtendedScan = last.ExtendedScan;
    ctx_.replies.CapacityText = last.replies.CapacityText;
    ctx_.replies.ReplyBuffer = last.replies.ReplyBuffer;
}

} // namespace ufd
