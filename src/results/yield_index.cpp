#include "results/yield_index.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <ctime>
#include <limits>
#include <malloc.h>
#include <unordered_map>

namespace ufd {

namespace {

constexpr quint32 kNone = std::numeric_limits<quint32>::max();
constexpr int kMaxCodes = 256;

QString Why(const QSqlError& e) {
    const QString text = e.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

qint64 DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

// The writer's form of a start, "2026-12-07T08:00:00.000Z", as milliseconds
// since the epoch; nullopt for any other text. In that form comparing texts
// compares times, which is what the database's ORDER BY and since do.
std::optional<qint64> StartMs(const QString& s, int* year = nullptr) {
    if (s.size() != 24 || s[4] != u'-' || s[7] != u'-' || s[10] != u'T' || s[13] != u':' ||
        s[16] != u':' || s[19] != u'.' || s[23] != u'Z') {
        return std::nullopt;
    }
    const auto number = [&](int at, int digits) {
        int v = 0;
        for (int i = at; i < at + digits; ++i) {
            if (s[i] < u'0' || s[i] > u'9') {
                return -1;
            }
            v = v * 10 + (s[i].unicode() - u'0');
        }
        return v;
    };
    const int y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2),
              mi = number(14, 2), sec = number(17, 2), ms = number(20, 3);
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || h < 0 || h > 23 || mi < 0 ||
        mi > 59 || sec < 0 || sec > 59 || ms < 0) {
        return std::nullopt;
    }
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo == 2 && d == 29 && !leap) {
        return std::nullopt;
    }
    if (year != nullptr) {
        *year = y;
    }
    return ((DaysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000 + sec * 1000 + ms;
}

// An hour or day as a number whose order is that of its text: 2026120708.
qint64 TimeKey(qint64 ms, bool utc, bool hour) {
    const time_t t = static_cast<time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    tm parts{};
    if (utc) {
        ::gmtime_r(&t, &parts);
    } else {
        ::localtime_r(&t, &parts);
    }
    const qint64 day = (parts.tm_year + 1900) * 10000LL + (parts.tm_mon + 1) * 100 + parts.tm_mday;
    return hour ? day * 100 + parts.tm_hour : day;
}

QString TimeKeyText(qint64 key, bool hour) {
    const qint64 day = hour ? key / 100 : key;
    QString text = QStringLiteral("%1-%2-%3")
                       .arg(day / 10000, 4, 10, QLatin1Char('0'))
                       .arg(day / 100 % 100, 2, 10, QLatin1Char('0'))
                       .arg(day % 100, 2, 10, QLatin1Char('0'));
    if (hour) {
        text += QStringLiteral(" %1:00").arg(key % 100, 2, 10, QLatin1Char('0'));
    }
    return text;
}

struct Tally {
    qint64 units = 0, firstPass = 0, finalPass = 0;
};

} // namespace

void YieldIndex::Units::Clear() {
    bytes_.clear();
    ends_.clear();
    slots_.assign(1024, 0);
}

QByteArrayView YieldIndex::Units::At(quint32 id) const {
    const quint32 begin = id > 1 ? ends_[id - 2] : 0;
    return {bytes_.data() + begin, qsizetype(ends_[id - 1] - begin)};
}

void YieldIndex::Units::Grow() {
    std::vector<quint32> old(slots_.size() * 2, 0);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (quint32 id : old) {
        if (id != 0) {
            size_t at = qHash(At(id)) & mask;
            while (slots_[at] != 0) {
                at = (at + 1) & mask;
            }
            slots_[at] = id;
        }
    }
}

quint32 YieldIndex::Units::Id(const QByteArray& key) {
    if (slots_.empty()) {
        Clear();
    }
    const size_t mask = slots_.size() - 1;
    size_t at = qHash(QByteArrayView(key)) & mask;
    for (; slots_[at] != 0; at = (at + 1) & mask) {
        if (At(slots_[at]) == key) {
            return slots_[at];
        }
    }
    bytes_.insert(bytes_.end(), key.begin(), key.end());
    ends_.push_back(static_cast<quint32>(bytes_.size()));
    const quint32 id = static_cast<quint32>(ends_.size());
    slots_[at] = id;
    if (ends_.size() * 2 > slots_.size()) {
        Grow();
    }
    return id;
}

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

bool YieldIndex::Read(QSqlQuery& q, Fetched& f) {
    // Columns as Fetch selects them: started, serial, run, slot, station, vid,
    // pid, usb product, port, socket, lot, operator, status, passed, format.
    struct Memo {
        QVariant value;
        quint32 id = 0;
    };
    Memo memo[12];
    const auto text = [&](int column) {
        const QVariant v = q.value(column);
        Memo& m = memo[column];
        if (m.id != kNone && v.isNull() == m.value.isNull() && v == m.value) {
            return m.id;
        }
        m = {v, v.isNull() ? 0 : Text(v.toString())};
        return m.id;
    };
    for (Memo& m : memo) {
        m.id = kNone;
    }
    while (q.next()) {
        const QString started = q.value(0).toString();
        int year = 0;
        const std::optional<qint64> ms = StartMs(started, &year);
        // SQLite's local time guesses outside 1971-2037; the index would not.
        if (q.value(0).isNull() || !ms || year < 1971 || year > 2037) {
            usable_ = false;
            return true;
        }
        ++f.rows;
        f.recentRows += started >= recent_ ? 1 : 0;
        if (started == f.newest) {
            ++f.rowsAtNewest;
        } else {
            f.newest = started;
            f.rowsAtNewest = 1;
        }
        if (q.value(14).toInt() == 0) {
            continue; // no Format: counts for no figure
        }
        Record r;
        r.startedMs = *ms;
        const QVariant serial = q.value(1);
        const QVariant run = q.value(2);
        const QVariant slot = q.value(3);
        if (!serial.isNull() && !serial.toString().isEmpty()) {
            r.unit = units_.Id(serial.toString().toUtf8());
        } else if (!run.isNull() && !slot.isNull()) {
            r.unit =
                units_.Id((run.toString() + u'/' + QString::number(slot.toLongLong())).toUtf8());
        }
        r.station = text(4);
        r.product = ProductOf(text(5), text(6), text(7));
        const quint32 label = text(9);
        r.socket = label != 0 && !texts_[label].isEmpty() ? label : text(8);
        r.lot = text(10);
        r.op = text(11);
        const QVariant status = q.value(12);
        r.statusNull = status.isNull();
        r.status = status.toInt();
        const QVariant passed = q.value(13);
        const qint64 p = passed.toLongLong();
        if (!passed.isNull() && p != 0 && p != 1) {
            usable_ = false;
            return true;
        }
        r.passed = passed.isNull() ? qint8(-1) : qint8(p);
        f.records.push_back(r);
    }
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
        *error = Why(q.lastError());
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
    const auto column = [&](const char* name) {
        return db_.HasColumn(QLatin1String(name)) ? QLatin1String(name) : QLatin1String("NULL");
    };
    const QString sql =
        QStringLiteral("SELECT started_utc, serial, run_id, slot, station_id, vid, pid, "
                       "usb_product, port_path, %1, %2, %3, status, passed, CASE WHEN "
                       "format_status IS NULL THEN 0 ELSE 1 END FROM drive_records%4 ORDER BY "
                       "started_utc, run_id, slot")
            .arg(column("socket"), column("lot"), column("operator"),
                 from.isNull() ? QString() : QStringLiteral(" WHERE started_utc >= ?"));
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        return fail(q);
    }
    if (!from.isNull()) {
        q.addBindValue(from);
    } else {
        f.records.reserve(static_cast<size_t>(f.count));
    }
    if (!q.exec() || !Read(q, f)) {
        return fail(q);
    }
    if (q.lastError().isValid()) {
        return fail(q);
    }
    q.finish();
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

bool YieldIndex::Select(const RecordFilter& filter, QString* error) {
    qint64 since = std::numeric_limits<qint64>::min();
    if (!filter.since.isEmpty()) {
        const std::optional<qint64> ms = StartMs(filter.since);
        if (!ms) {
            *error = QStringLiteral("since: not a time as the records keep it");
            return false;
        }
        since = *ms;
    }
    const quint32 station =
        filter.station.isEmpty() ? kNone : textIds_.value(filter.station, kNone - 1);
    std::vector<char> product;
    if (!filter.product.isEmpty()) {
        const quint32 id = textIds_.value(filter.product, kNone);
        product.resize(products_.size());
        for (size_t i = 0; i < products_.size(); ++i) {
            product[i] = id != kNone && (products_[i].vidPid == id || products_[i].usb == id);
        }
    }
    first_.assign(units_.Count(), kNone);
    last_.assign(units_.Count(), kNone);
    const auto from = std::lower_bound(records_.begin(), records_.end(), since,
                                       [](const Record& r, qint64 ms) { return r.startedMs < ms; });
    for (auto i = static_cast<quint32>(from - records_.begin()); i < records_.size(); ++i) {
        const Record& r = records_[i];
        if ((station != kNone && r.station != station) ||
            (!product.empty() && product[r.product] == 0)) {
            continue;
        }
        if (first_[r.unit] == kNone) {
            first_[r.unit] = i;
        }
        last_[r.unit] = i;
    }
    return true;
}

bool YieldIndex::Rank(QString* error) {
    if (ranks_.size() == texts_.size()) {
        return true;
    }
    std::vector<quint32> order;
    if (db_.Sqlite()) {
        // SQLite orders text by its UTF-8 bytes.
        std::vector<QByteArray> bytes;
        bytes.reserve(texts_.size());
        for (const QString& t : texts_) {
            bytes.push_back(t.toUtf8());
        }
        for (quint32 id = 1; id < texts_.size(); ++id) {
            order.push_back(id);
        }
        std::sort(order.begin(), order.end(),
                  [&](quint32 a, quint32 b) { return bytes[a] < bytes[b]; });
    } else {
        // PostgreSQL orders by the database's collation: it is asked.
        QString array = QStringLiteral("{");
        for (quint32 id = 1; id < texts_.size(); ++id) {
            QString t = texts_[id];
            t.replace(u'\\', QLatin1String("\\\\")).replace(u'"', QLatin1String("\\\""));
            array += (id > 1 ? QStringLiteral(",\"") : QStringLiteral("\"")) + t + u'"';
        }
        array += u'}';
        QSqlQuery q(db_.Database());
        q.setForwardOnly(true);
        if (!q.prepare(QStringLiteral("SELECT k FROM unnest(CAST(? AS text[])) AS k ORDER BY k"))) {
            *error = Why(q.lastError());
            return false;
        }
        q.addBindValue(array);
        if (!q.exec()) {
            *error = Why(q.lastError());
            return false;
        }
        while (q.next()) {
            order.push_back(textIds_.value(q.value(0).toString()));
        }
    }
    ranks_.assign(texts_.size(), 0);
    for (size_t i = 0; i < order.size(); ++i) {
        ranks_[order[i]] = static_cast<int>(i) + 1;
    }
    // NULL sorts first in SQLite, last in PostgreSQL.
    ranks_[0] = db_.Sqlite() ? 0 : std::numeric_limits<int>::max();
    return true;
}

std::optional<std::vector<YieldRow>> YieldIndex::Yield(YieldBy by, const RecordFilter& filter,
                                                       QString* error) {
    const char* column = by == YieldBy::Lot        ? "lot"
                         : by == YieldBy::Operator ? "operator"
                                                   : nullptr;
    if (column != nullptr && !db_.HasColumn(QLatin1String(column))) {
        *error = QStringLiteral("the records hold no %1 (a database of an older station)")
                     .arg(QLatin1String(column));
        return std::nullopt;
    }
    const bool time = by == YieldBy::Hour || by == YieldBy::Day;
    if (!Select(filter, error) || (!time && !Rank(error))) {
        return std::nullopt;
    }
    // A group: a text id and, for sockets, the station's; or an hour or day.
    std::unordered_map<quint64, Tally> groups;
    qint64 memoSecond = std::numeric_limits<qint64>::min(), memoKey = 0;
    Tally* tally = nullptr;
    quint64 tallyKey = 0;
    for (size_t i = 0; i < records_.size(); ++i) {
        const Record& r = records_[i];
        if (first_[r.unit] != i) {
            continue;
        }
        quint64 key = 0;
        switch (by) {
        case YieldBy::Product:
            key = products_[r.product].key;
            break;
        case YieldBy::Station:
            key = r.station;
            break;
        case YieldBy::Socket:
            key = (quint64(r.socket) << 32) | r.station;
            break;
        case YieldBy::Hour:
        case YieldBy::Day:
            // A run's drives share their start: one conversion serves them.
            if (r.startedMs / 1000 != memoSecond) {
                memoSecond = r.startedMs / 1000;
                memoKey = TimeKey(r.startedMs, filter.utc, by == YieldBy::Hour);
            }
            key = static_cast<quint64>(memoKey);
            break;
        case YieldBy::Lot:
            key = r.lot;
            break;
        case YieldBy::Operator:
            key = r.op;
            break;
        }
        if (tally == nullptr || key != tallyKey) { // neighbours mostly share a group
            tally = &groups[key];
            tallyKey = key;
        }
        Tally& t = *tally;
        ++t.units;
        t.firstPass += r.passed > 0 ? 1 : 0;
        t.finalPass += records_[last_[r.unit]].passed > 0 ? 1 : 0;
    }
    std::vector<std::pair<quint64, Tally>> sorted(groups.begin(), groups.end());
    const auto place = [&](quint64 key) {
        return std::pair(ranks_[key >> 32], ranks_[key & 0xFFFFFFFFu]);
    };
    std::sort(sorted.begin(), sorted.end(), [&](const auto& a, const auto& b) {
        if (time) {
            return a.first < b.first;
        }
        if (by == YieldBy::Socket) {
            return place(a.first) < place(b.first);
        }
        return ranks_[a.first] < ranks_[b.first];
    });
    if (sorted.size() > size_t(YieldQueries::kMaxGroups)) {
        sorted.resize(YieldQueries::kMaxGroups);
    }
    std::vector<YieldRow> out;
    out.reserve(sorted.size());
    for (const auto& [key, t] : sorted) {
        YieldRow row{{}, {}, t.units, t.firstPass, t.finalPass};
        if (time) {
            row.key = TimeKeyText(qint64(key), by == YieldBy::Hour);
        } else if (by == YieldBy::Socket) {
            row.key = texts_[key >> 32];
            row.station = texts_[key & 0xFFFFFFFFu];
        } else {
            row.key = texts_[key];
        }
        out.push_back(std::move(row));
    }
    return out;
}

std::optional<std::vector<ParetoRow>> YieldIndex::Pareto(const RecordFilter& filter,
                                                         QString* error) {
    if (!Select(filter, error)) {
        return std::nullopt;
    }
    // By status; a NULL status is a group of its own.
    std::map<std::pair<bool, qint32>, qint64> counts;
    for (size_t i = 0; i < records_.size(); ++i) {
        const Record& r = records_[i];
        if (first_[r.unit] == i && r.passed == 0) {
            ++counts[{r.statusNull, r.statusNull ? 0 : r.status}];
        }
    }
    std::vector<std::pair<std::pair<bool, qint32>, qint64>> sorted(counts.begin(), counts.end());
    const bool nullFirst = db_.Sqlite();
    std::sort(sorted.begin(), sorted.end(), [&](const auto& a, const auto& b) {
        if (a.second != b.second) {
            return a.second > b.second;
        }
        if (a.first.first != b.first.first) {
            return a.first.first == nullFirst;
        }
        return a.first.second < b.first.second;
    });
    std::vector<ParetoRow> out;
    for (const auto& [status, count] : sorted) {
        if (out.size() == size_t(kMaxCodes)) {
            break;
        }
        out.push_back({status.second, count});
    }
    return out;
}

} // namespace ufd
