// ufd-results' yield and history as text: the figures of YieldQueries, one
// section per grouping, and one line per run of a drive.
#pragma once

#include "results/yield_query.h"

#include <QString>

#include <optional>

namespace ufd {

// First-pass and final yield per product, station, socket, day (and lot and
// operator where the records hold them), then the failure Pareto.
std::optional<QString> YieldReportText(YieldQueries& queries, ReadOnlyDatabase& db,
                                       const YieldFilter& filter, QString* error);

// Every run of serial, oldest first, one line each; empty when it has none.
std::optional<QString> HistoryText(YieldQueries& queries, const QString& serial, QString* error);

} // namespace ufd
