// The figures over the index: each unit's first and last Format run in the
// filter, then the groups, in the database's order and limits.
#include "results/yield_index.h"

#include "results/record_time.h"
#include "results/text_order.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

namespace ufd {

namespace {

constexpr quint32 kNone = std::numeric_limits<quint32>::max();

struct Tally {
    qint64 units = 0, firstPass = 0, finalPass = 0;
};

} // namespace

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
    std::optional<std::vector<int>> ranks = TextRanks(db_, texts_, error);
    if (!ranks) {
        return false;
    }
    ranks_ = std::move(*ranks);
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
    if (sorted.size() > size_t(kMaxGroups)) {
        sorted.resize(kMaxGroups);
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
