// A record's start as the station writes it ("2026-12-07T08:00:00.000Z") in
// numbers: milliseconds since the epoch, and the hour or day it falls in,
// local or UTC, as a number that sorts as its text does.
#pragma once

#include <QString>

#include <optional>

namespace ufd {

// Milliseconds since the epoch; nullopt for any text not in the station's
// own form. In that form comparing texts compares times, which is what the
// database's ORDER BY and since do. year: the year, where given.
std::optional<qint64> StartMs(const QString& start, int* year = nullptr);

// The hour (hour) or day of ms, local time or UTC, as 2026120708 or 20261207.
qint64 TimeKey(qint64 ms, bool utc, bool hour);
// TimeKey's text as the database writes it: "2026-12-07 08:00", "2026-12-07".
QString TimeKeyText(qint64 key, bool hour);

} // namespace ufd
