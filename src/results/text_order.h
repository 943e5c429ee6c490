// The order the database gives texts in its ORDER BY, so that figures
// computed in memory list their groups as the database would: SQLite by
// UTF-8 bytes, PostgreSQL by its collation (asked, not guessed). NULL sorts
// first in SQLite, last in PostgreSQL.
#pragma once

#include "results/record_reader.h"

#include <QString>

#include <optional>
#include <vector>

namespace ufd {

// Per text (texts[0] stands for NULL) its place in the database's order.
std::optional<std::vector<int>> TextRanks(RecordReader& db, const std::vector<QString>& texts,
                                          QString* error);

} // namespace ufd
