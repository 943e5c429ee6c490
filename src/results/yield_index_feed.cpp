// The figures' index kept in step with the record table: read whole once,
// then the records from the newest start it holds, in one snapshot with the
// count that tells a late or removed record. The rows come through the
// reader as records, in the columns the field table marks for the figures.
#include "results/record_time.h"
#include "results/yield_index.h"

#include <QSqlError>
#include <QSqlQuery>

#include <limits>
#include <malloc.h>

namespace ufd {

namespace {

constexpr quint32 kNone = std::numeric_limits<quint32>::max();

} // namespace

YieldIndex::YieldIndex(RecordReader& db, QString recent, std::chrono::milliseconds whole)
    : db_(db), recent_(std::move(recent)), wholeMs_(whole.count()) {}

quint32 YieldIndex::Text(const QString& text) {
    const auto it = textIds_.constFind(text);
    if (it != textIds_.cend()) {
        return *it;
    }
    const auto id = static_cast<quint32>(texts_.size());
    texts_.push_back(text);
    textIds_.insert(text, id);
    return id;
}

quint32 YieldIndex::ProductOf(quint32 vid, quint32 pid, quint32 usb) {
    const std::array<quint32, 3> key{vid, pid, usb};
    if (const auto it = productIds_.find(key); it != productIds_.end()) {
        return it->second;
    }
    Product p;
    p.usb = usb;
    if (vid != 0 && pid != 0) { // a NULL part makes the whole text NULL, as in SQL
        p.vidPid = Text(texts_[vid] + u':' + texts_[pid]);
        if (usb != 0) {
            p.key = Text(texts_[p.vidPid] + u' ' + texts_[usb]);
        }
    }
    const auto id = static_cast<quint32>(products_.size());
    products_.push_back(p);
    productIds_.emplace(key, id);
    return id;
}

quint32 YieldIndex::Text(const QString& text, TextMemo& memo) {
    // Neighbouring records mostly share a station, product, lot and operator.
    if (memo.id != kNone && text.isNull() == memo.text.isNull() && text == memo.text) {
        return memo.id;
    }
    memo = {text, text.isNull() ? 0 : Text(text)};
    return memo.id;
}

bool YieldIndex::Add(const DriveRecord& d, Fetched& f, RowMemo& memo) {
    const QString& started = d.StartedUtc;
    int year = 0;
    const std::optional<qint64> ms = StartMs(started, &year);
    // SQLite's local time guesses outside 1971-2037; the index would not.
    if (started.isNull() || !ms || year < 1971 || year > 2037) {
        usable_ = false;
        return false;
    }
    ++f.rows;
    f.recentRows += started >= recent_ ? 1 : 0;
    if (started == f.newest) {
        ++f.rowsAtNewest;
    } else {
        f.newest = started;
        f.rowsAtNewest = 1;
    }
    if (!d.Items[0]) {
        return true; // no Format: counts for no figure
    }
    if (d.Stored.PassedOther) {
        usable_ = false;
        return false;
    }
    Record r;
    r.startedMs = *ms;
    if (!d.Serial.isEmpty()) {
        r.unit = units_.Id(d.Serial.toUtf8());
    } else if (!d.RunId.isNull() && !d.Stored.SlotNull) {
        r.unit = units_.Id((d.RunId + u'/' + QString::number(d.Slot)).toUtf8());
    }
    r.station = Text(d.StationId, memo.station);
    r.product =
        ProductOf(Text(d.Vid, memo.vid), Text(d.Pid, memo.pid), Text(d.UsbProduct, memo.usb));
    const quint32 label = Text(d.Socket, memo.socket);
    r.socket = label != 0 && !texts_[label].isEmpty() ? label : Text(d.PortPath, memo.port);
    r.lot = Text(d.Lot, memo.lot);
    r.op = Text(d.Operator, memo.op);
    // The Pareto's root cause, as the database's own figures take it.
    r.statusNull = !d.FirstStatus && d.Stored.StatusNull;
    r.status = d.FirstStatus.value_or(d.Status);
    r.passed = d.Stored.PassedNull ? qint8(-1) : qint8(d.Passed ? 1 : 0);
    f.records.push_back(r);
    return true;
}

std::optional<YieldIndex::Fetched> YieldIndex::Fetch(const QString& from, bool whole,
                                                     QString* error) {
    QSqlDatabase db = db_.Database();
    // One snapshot for the count and the records, or a record stored between
    // them would cost a whole reload.
    const bool snapshot = db.transaction();
    if (snapshot && !db_.Sqlite()) {
        QSqlQuery(db).exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ"));
    }
    const auto fail = [&](const QSqlQuery& q) {
        *error = SqlErrorText(q.lastError());
        if (snapshot) {
            db.rollback();
        }
        return std::nullopt;
    };
    Fetched f;
    {
        // The recent records' count is a range of the start-time index; the
        // whole table's is a scan of it (PostgreSQL: of the table), so rarer.
        QSqlQuery count(db);
        count.prepare(whole ? QStringLiteral("SELECT COUNT(*) FROM drive_records")
                            : QStringLiteral("SELECT COUNT(*) FROM drive_records WHERE "
                                             "started_utc >= ?"));
        if (!whole) {
            count.addBindValue(recent_);
        }
        if (!count.exec() || !count.next()) {
            return fail(count);
        }
        f.count = count.value(0).toLongLong();
    }
    Statement rows{QStringLiteral(" ORDER BY started_utc, run_id, slot"), {}};
    if (!from.isNull()) {
        rows.sql.prepend(QStringLiteral(" WHERE started_utc >= ?"));
        rows.binds << from;
    } else {
        f.records.reserve(static_cast<size_t>(f.count));
    }
    RowMemo memo;
    if (!db_.Each(
            rows, true, [&](const DriveRecord& d) { return Add(d, f, memo); }, error)) {
        if (snapshot) {
            db.rollback();
        }
        return std::nullopt;
    }
    if (snapshot) {
        db.commit();
    }
    return f;
}

bool YieldIndex::Load(QString* error) {
    loaded_ = false;
    usable_ = true;
    records_.clear();
    texts_.assign(1, QString()); // id 0: NULL
    textIds_.clear();
    products_.clear();
    productIds_.clear();
    units_.Clear();
    ranks_.clear();
    std::optional<Fetched> f = Fetch(QString(), true, error);
    if (!f) {
        return false;
    }
    records_ = std::move(f->records);
    rows_ = f->rows;
    recentRows_ = f->recentRows;
    rowsAtNewest_ = f->rowsAtNewest;
    newest_ = f->newest;
    f.reset();
    // A million rows went through the heap on their way in: give the pages back.
    ::malloc_trim(0);
    loaded_ = true;
    ++generation_;
    checked_.start();
    return true;
}

bool YieldIndex::Refresh(const QString& stamp, QString* error) {
    if (!db_.OpenTable(error)) {
        return false;
    }
    if (!loaded_) {
        stamp_ = stamp;
        return Load(error);
    }
    const bool whole = checked_.elapsed() >= wholeMs_;
    if (!usable_ || (stamp == stamp_ && !whole)) {
        return true;
    }
    std::optional<Fetched> f =
        Fetch(newest_.isEmpty() ? QStringLiteral("") : newest_, whole, error);
    if (!f) {
        return false;
    }
    stamp_ = stamp;
    if (whole) {
        checked_.start();
    }
    if (!usable_) {
        return true;
    }
    // What the table holds must be what was held before the newest start
    // plus what was read from there on; anything else is a late or removed
    // record somewhere in the past.
    const qint64 rows = rows_ - rowsAtNewest_ + f->rows;
    const qint64 recent = recentRows_ - (newest_ >= recent_ ? rowsAtNewest_ : 0) + f->recentRows;
    if ((whole ? rows : recent) != f->count || (f->rows == 0 && rows_ != 0)) {
        return Load(error);
    }
    if (f->rows == rowsAtNewest_ && f->newest == newest_ && f->records.empty()) {
        return true;
    }
    const qint64 newestMs =
        newest_.isEmpty() ? std::numeric_limits<qint64>::min() : StartMs(newest_).value_or(0);
    while (!records_.empty() && records_.back().startedMs >= newestMs) {
        records_.pop_back();
    }
    // Grown by an eighth, not doubled: a million records are 40 MB.
    if (records_.capacity() < records_.size() + f->records.size()) {
        records_.reserve(records_.size() + records_.size() / 8 + f->records.size() + 1024);
    }
    records_.insert(records_.end(), f->records.begin(), f->records.end());
    rows_ = rows;
    recentRows_ = recent;
    rowsAtNewest_ = f->rowsAtNewest;
    newest_ = f->newest;
    ++generation_;
    return true;
}

} // namespace ufd
