#include "results/results_writer.h"

#include "results/journal.h"
#include "results/results_store.h"

#include <QFile>

namespace ufd {

ResultsWriter::ResultsWriter(DatabaseTarget target, QString journalPath,
                             std::chrono::milliseconds retry)
    : target_(std::move(target)), journalPath_(std::move(journalPath)), retry_(retry),
      thread_([this] { Work(); }) {}

ResultsWriter::~ResultsWriter() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ResultsWriter::Submit(std::vector<DriveRecord> records) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(records));
        busy_ = true;
    }
    wake_.notify_all();
}

StoreOutcome ResultsWriter::WaitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !busy_ && queue_.empty(); });
    return last_;
}

StoreOutcome ResultsWriter::Last() const {
    std::lock_guard lock(mutex_);
    return last_;
}

void ResultsWriter::Work() {
    ResultsStore store(target_);
    Journal journal(journalPath_);
    bool first = true;
    for (;;) {
        std::vector<DriveRecord> fresh;
        {
            std::unique_lock lock(mutex_);
            if (!first) {
                busy_ = false;
                idle_.notify_all();
                // Records in the journal are retried now and then, so they
                // arrive even when no further run comes.
                const bool waiting = !last_.stored;
                auto ready = [this] { return stop_ || !queue_.empty(); };
                if (waiting) {
                    wake_.wait_for(lock, retry_, ready);
                } else {
                    wake_.wait(lock, ready);
                }
                if (queue_.empty() && (stop_ || !waiting)) {
                    if (stop_) {
                        return;
                    }
                    continue;
                }
                busy_ = true;
            }
            if (!queue_.empty()) {
                fresh = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        first = false;

        StoreOutcome outcome;
        QString error;
        if (fresh.empty() && !QFile::exists(journal.Path())) {
            // Nothing to store and nothing waiting: touch neither the
            // database nor the data directory.
            std::lock_guard lock(mutex_);
            last_ = outcome;
            continue;
        }
        const Journal::Lock held(journal.Path());
        std::vector<DriveRecord> all = journal.ReadAll();
        const bool replaying = !all.empty();
        all.insert(all.end(), fresh.begin(), fresh.end());
        if (all.empty()) {
            outcome.stored = true;
        } else if (store.Store(all, &error)) {
            QString clearError;
            outcome.stored = !replaying || journal.Clear(&clearError);
            if (!outcome.stored) {
                // Stored, but the journal stays: a replay skips what is there.
                error = clearError;
            }
        } else {
            outcome.stored = false;
            QString appendError;
            if (!fresh.empty() && !journal.Append(fresh, &appendError)) {
                error += QStringLiteral("; journal: ") + appendError;
            }
        }
        outcome.waiting = journal.Count();
        if (!outcome.stored) {
            outcome.warning =
                QStringLiteral("Results not stored in %1 (%2): %3 record(s) wait in %4 and are "
                               "sent when the database can be written again.")
                    .arg(target_.Describe(), error)
                    .arg(outcome.waiting)
                    .arg(journal.Path());
        }
        {
            std::lock_guard lock(mutex_);
            last_ = outcome;
        }
        Q_EMIT Finished(outcome.stored, outcome.warning);
    }
}

} // namespace ufd
