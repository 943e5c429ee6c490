// The figures as plain tuples, so that two sources (SQL, the in-memory index)
// or a source and the expected figures compare whole.
#pragma once

#include "results/yield_query.h"
#include "support/test_common.h"

namespace ufd::test {

// key, station, units, first passes, final passes
using YieldTuple = std::tuple<std::string, std::string, qint64, qint64, qint64>;

// A failed query is a row of its own, so that it never compares equal.
template <typename Source>
std::vector<YieldTuple> Groups(Source& s, YieldBy by, const RecordFilter& f = {}) {
    QString error;
    const auto rows = s.Yield(by, f, &error);
    std::vector<YieldTuple> out;
    for (const YieldRow& r : rows.value_or(std::vector<YieldRow>{})) {
        out.emplace_back(r.key.toStdString(), r.station.toStdString(), r.units, r.firstPass,
                         r.finalPass);
    }
    if (!rows) {
        out.emplace_back(error.toStdString(), "error", 0, 0, 0);
    }
    return out;
}

// The Pareto as (status, count); a failed query gives none.
template <typename Source>
std::vector<std::pair<int, qint64>> Codes(Source& s, const RecordFilter& f = {}) {
    QString error;
    std::vector<std::pair<int, qint64>> out;
    for (const ParetoRow& p : s.Pareto(f, &error).value_or(std::vector<ParetoRow>{})) {
        out.emplace_back(p.status, p.count);
    }
    return out;
}

} // namespace ufd::test
