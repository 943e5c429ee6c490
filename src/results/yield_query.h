// The line's figures, aggregated by the database: first-pass and final yield
// per product, station, socket, hour, day, lot or operator; the failure
// Pareto. Every query is parameterised and bounded.
//
// A unit is one drive: its serial, or run id and slot when it has none. Its
// first pass is its first run with Format ticked, its final result that of
// its last run with Format. A unit counts once, in the group of its first
// pass; runs without Format (a write-protect check alone) count for neither,
// so a retest or a check never counts a drive twice.
#pragma once

#include "results/record_reader.h"

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

class YieldQueries {
public:
    // The longest list of groups a single answer holds.
    static constexpr int kMaxGroups = 5000;

    explicit YieldQueries(RecordReader& reader);

    // Groups in key order (newest hour or day last).
    std::optional<std::vector<YieldRow>> Yield(YieldBy by, const RecordFilter& filter,
                                               QString* error);
    // Most frequent status first; ties by code.
    std::optional<std::vector<ParetoRow>> Pareto(const RecordFilter& filter, QString* error);
    // Changes when a record comes in: the newest start and the number of
    // records since a day before these queries were made (both from the
    // start-time index, so cheap; a fixed start, so time passing changes
    // nothing). A record stored late with an older start (a journal's
    // replay) leaves it as it was.
    std::optional<QString> ChangeStamp(QString* error);
    const QString& StampSince() const { return stampSince_; }
    RecordReader& Reader() const { return db_; }

private:
    RecordReader& db_;
    QString stampSince_;
};

} // namespace ufd
