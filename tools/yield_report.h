// ufd-results' yield and history as text: the figures of YieldQueries, one
// section per grouping, and one line per run of a drive. Every stored text is
// printed through Visible(), so none forges a line or reaches the terminal raw.
#pragma once

#include "results/drive_record.h"
#include "results/yield_query.h"

#include <QString>

#include <optional>
#include <vector>

namespace ufd {

// First-pass and final yield per product, station, socket, day (and lot and
// operator where the records hold them), then the failure Pareto.
std::optional<QString> YieldReportText(YieldQueries& queries, const RecordFilter& filter,
                                       QString* error);

// One line per run: start, station, run, slot, socket, port, operator, lot (the
// last three where the record has them), the items ticked, the result.
QString HistoryText(const std::vector<DriveRecord>& runs);

} // namespace ufd
