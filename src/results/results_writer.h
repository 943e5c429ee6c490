// Stores each run's records on a thread of its own, so the window never
// waits on the database. What cannot be stored goes to the journal, which is
// replayed before every later store and, while it holds records, retried on
// a timer.
#pragma once

#include "results/database_target.h"
#include "results/drive_record.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace ufd {

class Journal;
class ResultsStore;

struct StoreOutcome {
    bool stored = true; // false: records wait in the journal, or were lost
    int waiting = 0;    // records in the journal
    int lost = 0;       // records of the last run neither stored nor journaled
    QString warning;    // the line the window and --batch show; empty when stored
};

class ResultsWriter : public QObject {
    Q_OBJECT
public:
    // A writer replays a journal left from before at once.
    ResultsWriter(DatabaseTarget target, QString journalPath,
                  std::chrono::milliseconds retry = std::chrono::seconds(30));
    ~ResultsWriter() override;

    // Returns at once; the records are stored or journaled behind it.
    void Submit(std::vector<DriveRecord> records);
    // Blocks until everything submitted so far is stored or journaled.
    StoreOutcome WaitIdle();

Q_SIGNALS:
    // From the writer's thread; receivers in the window get it queued.
    void Finished(bool stored, const QString& warning);

private:
    void Work();
    // One replay of the journal with the fresh records, and what came of it.
    StoreOutcome StoreOnce(ResultsStore& store, Journal& journal,
                           const std::vector<DriveRecord>& fresh);

    DatabaseTarget target_;
    QString journalPath_;
    std::chrono::milliseconds retry_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::vector<DriveRecord>> queue_;
    bool busy_ = true; // the first replay
    bool stop_ = false;
    StoreOutcome last_;
    std::thread thread_;
};

} // namespace ufd
