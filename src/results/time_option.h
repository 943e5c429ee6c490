// Times a user gives on the command line (--since), turned into the form the
// records keep, so that comparing them as text compares them as times.
#pragma once

#include <QString>

#include <optional>

namespace ufd {

// "2026-12-07" (that day, 00:00 UTC), "2026-12-07T08:00[:00[.000]]" (UTC)
// or the same with "Z" or an offset ("+05:00"): the UTC time as the records'
// ISO text ("2026-12-07T03:00:00.000Z"). nullopt for anything else, a time
// like T25:99 included.
std::optional<QString> ParseTimeOption(const QString& text);

} // namespace ufd
