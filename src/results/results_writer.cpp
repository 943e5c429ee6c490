#include "results/results_writer.h"

#include "results/journal.h"
#include "results/results_store.h"

#include <QDir>
#include <QFileInfo>

namespace ufd {

namespace {

// The station makes its own data directory, never the folder of a records
// file every operator shares: made by a first run as root, it would belong to
// root and lock the operators out. Empty when the store may go ahead.
QString MissingSharedDirectory(const DatabaseTarget& target) {
    if (target.kind != DatabaseTarget::Kind::Sqlite) {
        return {};
    }
    const QString dir = QDir::cleanPath(QFileInfo(target.file).absolutePath());
    if (QFileInfo::exists(dir) || dir == QDir::cleanPath(ResultsDataDirectory())) {
        return {};
    }
    return QStringLiteral("the records directory ") + dir +
           QStringLiteral(" does not exist, and the station does not make a shared one: "
                          "installing the ufd-station package makes /var/lib/ufd-station for "
                          "group ufdstation (setup.md, step 1)");
}

} // namespace

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

StoreOutcome ResultsWriter::StoreOnce(ResultsStore& store, Journal& journal,
                                      const std::vector<DriveRecord>& fresh) {
    StoreOutcome outcome;
    QString error;        // the database's
    QString journalError; // why the journal could not be locked, read or cleared
    bool locked = false;
    bool freshStored = false;
    {
        const Journal::Lock held(journal.Path());
        locked = held.Held();
        std::vector<DriveRecord> all;
        if (!locked) {
            journalError = held.Error();
        } else if (auto waiting = journal.ReadAll(&journalError)) {
            all = std::move(*waiting);
        }
        const bool replaying = !all.empty();
        all.insert(all.end(), fresh.begin(), fresh.end());
        error = MissingSharedDirectory(target_);
        if (!all.empty() && error.isEmpty() && store.Store(all, &error)) {
            freshStored = true;
            // A journal that stays is no loss: a replay skips what is there.
            if (replaying) {
                journal.Clear(&journalError);
            }
        }
    }
    QString appendError;
    if (!freshStored && !fresh.empty()) {
        // Without the lock an append could be cleared unread by another
        // station's replay (and waiting for it again would double the wait).
        if (!locked) {
            appendError = journalError;
        } else {
            journal.Append(fresh, &appendError);
        }
        outcome.lost = appendError.isEmpty() ? 0 : static_cast<int>(fresh.size());
    }
    outcome.waiting = journal.Count();
    outcome.stored = (freshStored || fresh.empty()) && outcome.waiting == 0;
    const QString where = target_.Describe();
    const QString waiting =
        QString::number(outcome.waiting) + QStringLiteral(" record(s) wait in ") + journal.Path();
    if (outcome.lost > 0) {
        outcome.warning = QStringLiteral("Results not stored in ") + where + QStringLiteral(" (") +
                          error + QStringLiteral(") nor kept in the journal (") + appendError +
                          QStringLiteral("): ") + QString::number(outcome.lost) +
                          QStringLiteral(" record(s) of this run are lost; the run's rows as "
                                         "shown are all that is left of them.");
        if (outcome.waiting > 0) {
            outcome.warning += QStringLiteral(" Earlier: ") + waiting + QLatin1Char('.');
        }
    } else if (!outcome.stored && freshStored && !fresh.empty()) {
        outcome.warning = QStringLiteral("Results of this run stored in ") + where +
                          QStringLiteral("; earlier ") + waiting + QStringLiteral(" (") +
                          journalError + QStringLiteral(").");
    } else if (!outcome.stored) {
        outcome.warning = QStringLiteral("Results not stored in ") + where + QStringLiteral(" (") +
                          (error.isEmpty() ? journalError : error) + QStringLiteral("): ") +
                          waiting +
                          QStringLiteral(" and are sent when the database can be written again.");
    }
    return outcome;
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

        if (fresh.empty() && !QFileInfo::exists(journal.Path())) {
            // Nothing to store and nothing waiting: touch neither the
            // database nor the data directory.
            std::lock_guard lock(mutex_);
            last_ = StoreOutcome{};
            continue;
        }
        const StoreOutcome outcome = StoreOnce(store, journal, fresh);
        {
            std::lock_guard lock(mutex_);
            last_ = outcome;
        }
        Q_EMIT Finished(outcome.stored, outcome.warning);
    }
}

} // namespace ufd
