// A thread of the page server with its own read-only connection (Qt SQL
// connections belong to the thread that made them): it runs the API's
// queries, so a slow query holds up only the requests queued behind it,
// never the event loop that accepts, reads and answers every other client.
//
// Before each query it looks at the SQLite file and its -wal: when either is
// another file than the one it opened (a restore moved a new file over the
// old one), or the last query failed, it opens the records afresh.
#pragma once

#include "results/database_target.h"
#include "results_api.h"

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

namespace ufd {

class ResultsWorker {
public:
    // figures: keeps the figures' index and answers /api/yield and
    // /api/pareto from it; otherwise every query goes to the database.
    ResultsWorker(DatabaseTarget target, bool figures);
    ~ResultsWorker();
    ResultsWorker(const ResultsWorker&) = delete;
    ResultsWorker& operator=(const ResultsWorker&) = delete;

    // Reads the figures' index now, waiting for it; false with the reason.
    bool LoadIndex(QString* error);
    // Runs call on the worker's thread; reply is then called on context's
    // thread (an object that outlives the worker, on the server's thread).
    void Run(const ApiCall& call, QObject* context, std::function<void(const ApiReply&)> reply);

private:
    struct State;
    QThread thread_;
    QObject* home_;                // lives on thread_
    std::unique_ptr<State> state_; // used on thread_ only
};

} // namespace ufd
