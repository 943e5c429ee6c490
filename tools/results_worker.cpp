#include "results_worker.h"

#include "sqlite_files.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>

namespace ufd {

namespace {

constexpr qint64 kKeepMs = 60000;
constexpr qsizetype kMaxKept = 64;

QString CallKey(const ApiCall& c) {
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
        .arg(int(c.route))
        .arg(int(c.by))
        .arg(c.filter.since, c.filter.station, c.filter.product)
        .arg(c.filter.utc)
        .arg(c.limit);
}

} // namespace

struct ResultsWorker::State {
    // The records as opened once: connection, queries and index together.
    struct Open {
        explicit Open(const DatabaseTarget& target, bool figures)
            : db(target), queries(db),
              index(figures ? std::make_unique<YieldIndex>(db, queries.StampSince()) : nullptr) {}
        RecordReader db;
        YieldQueries queries;
        std::unique_ptr<YieldIndex> index;
    };
    // An answer kept while the records it came from stay the same, for at
    // most a minute.
    struct Kept {
        QString stamp;
        QElapsedTimer age;
        ApiReply reply;
    };

    State(DatabaseTarget t, bool f) : target(std::move(t)), figures(f) {}

    // The records as they are now: opened afresh after a restore or a
    // failure. nullptr while they must not be read: a file restored over the
    // one opened while that one's -wal is still beside it (SQLite would lay
    // the old file's pages over the new one's).
    Open* Current(QString* error) {
        if (target.kind == DatabaseTarget::Kind::Sqlite) {
            const FileId file = IdOf(target.file), wal = IdOf(target.file + QStringLiteral("-wal"));
            if (file != fileId || wal != walId) {
                if (fileId.exists && file != fileId && wal.exists && wal == walId &&
                    WalAhead(target.file)) {
                    staleWal = wal;
                }
                open.reset();
                fileId = file;
                walId = wal;
            }
            if (staleWal.exists && staleWal == wal) {
                *error = QStringLiteral("%1 was replaced, but the -wal of the file it replaced "
                                        "is still beside it: remove that -wal (with the station "
                                        "stopped) to read the records")
                             .arg(target.file);
                return nullptr;
            }
            staleWal = {};
        }
        if (failed) {
            open.reset();
            failed = false;
        }
        if (!open) {
            open = std::make_unique<Open>(target, figures);
            kept.clear();
        }
        return open.get();
    }

    bool LoadIndex(QString* error) {
        Open* current = Current(error);
        if (current == nullptr) {
            return false;
        }
        Open& o = *current;
        const std::optional<QString> stamp = o.queries.ChangeStamp(error);
        const bool ok = stamp && (!o.index || o.index->Refresh(*stamp, error));
        failed = !ok;
        return ok;
    }

    ApiReply Run(const ApiCall& call) {
        QString error;
        Open* current = Current(&error);
        if (current == nullptr) {
            return ApiFailure(ApiError::Unavailable, error);
        }
        Open& o = *current;
        if (std::optional<ApiReply> refusal = RefuseForColumns(o.db, call)) {
            failed = refusal->status >= 500;
            return *refusal;
        }
        if (!o.index || (call.route != ApiRoute::Yield && call.route != ApiRoute::Pareto)) {
            const ApiReply reply = RunApiCall(o.db, o.queries, call);
            failed = reply.status >= 500;
            return reply;
        }
        std::optional<QString> stamp = o.queries.ChangeStamp(&error);
        const bool indexed = stamp && o.index->Refresh(*stamp, &error) && o.index->Usable();
        if (indexed) {
            stamp = QStringLiteral("index %1").arg(o.index->Generation());
        }
        if (!stamp) {
            failed = true;
            return ApiFailure(ApiError::Unavailable, error);
        }
        const QString key = CallKey(call);
        const auto it = kept.constFind(key);
        if (it != kept.cend() && it->stamp == *stamp && it->age.elapsed() < kKeepMs) {
            return it->reply;
        }
        const ApiReply reply = RunApiCall(o.db, o.queries, call, indexed ? o.index.get() : nullptr);
        failed = reply.status >= 500;
        if (reply.status == 200) {
            if (kept.size() >= kMaxKept) {
                kept.clear();
            }
            Kept& k = kept[key];
            k = {*stamp, {}, reply};
            k.age.start();
        }
        return reply;
    }

    DatabaseTarget target;
    bool figures;
    FileId fileId, walId, staleWal;
    bool failed = false;
    std::unique_ptr<Open> open;
    QHash<QString, Kept> kept;
};

ResultsWorker::ResultsWorker(DatabaseTarget target, bool figures)
    : home_(new QObject), state_(std::make_unique<State>(std::move(target), figures)) {
    home_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, home_, &QObject::deleteLater);
    thread_.start();
}

ResultsWorker::~ResultsWorker() {
    // The connection is closed on the thread that opened it.
    QMetaObject::invokeMethod(
        home_, [this] { state_.reset(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

bool ResultsWorker::LoadIndex(QString* error) {
    bool ok = false;
    QMetaObject::invokeMethod(
        home_, [this, error, &ok] { ok = state_->LoadIndex(error); }, Qt::BlockingQueuedConnection);
    return ok;
}

void ResultsWorker::Run(const ApiCall& call, QObject* context,
                        std::function<void(const ApiReply&)> reply) {
    QMetaObject::invokeMethod(home_, [this, call, context, reply = std::move(reply)] {
        const ApiReply answer = state_->Run(call);
        QMetaObject::invokeMethod(context, [reply, answer] { reply(answer); });
    });
}

} // namespace ufd
