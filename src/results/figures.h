// The line's figures and the one interface that gives them, whether the
// database aggregates them (YieldQueries) or the server's index in memory
// does (YieldIndex): the same answers, grouping, filter, order and limits.
//
// A unit is one drive: its serial, or run id and slot when it has none. Its
// first pass is its first run with Format ticked, its final result that of
// its last run with Format. A unit counts once, in the group of its first
// pass; runs without Format (a write-protect check alone) count for neither,
// so a retest or a check never counts a drive twice.
#pragma once

#include "results/record_filter.h"

#include <QString>

#include <optional>
#include <vector>

namespace ufd {

enum class YieldBy { Product, Station, Socket, Hour, Day, Lot, Operator };

// The name of a grouping in commands and URLs ("product", "socket", ...);
// nullopt for an unknown name.
std::optional<YieldBy> YieldByFromName(const QString& name);
QString YieldByName(YieldBy by);

struct YieldRow {
    QString key;     // the product, station, hour, ...; for Socket the port
    QString station; // Socket only: the socket's station
    qint64 units = 0;
    qint64 firstPass = 0; // units that passed their first run with Format
    qint64 finalPass = 0; // units whose last run with Format passed
};

struct ParetoRow {
    int status = 0;
    qint64 count = 0; // units whose first pass failed with this status
};

class Figures {
public:
    // The longest lists a single answer holds: groups, and Pareto codes.
    static constexpr int kMaxGroups = 5000;
    static constexpr int kMaxCodes = 256;

    virtual ~Figures() = default;
    // Groups in key order (newest hour or day last).
    virtual std::optional<std::vector<YieldRow>> Yield(YieldBy by, const RecordFilter& filter,
                                                       QString* error) = 0;
    // Most frequent status first; ties by code.
    virtual std::optional<std::vector<ParetoRow>> Pareto(const RecordFilter& filter,
                                                         QString* error) = 0;
};

} // namespace ufd
