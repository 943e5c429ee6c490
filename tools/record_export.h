// The records as text for other programs: RFC 4180 CSV with a header line,
// one JSON object per line.
#pragma once

#include "results/drive_record.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace ufd {

// Header and one line per record, CR LF line ends; null values are empty; a
// text beginning with =, +, -, @, tab or CR gets a leading apostrophe, so no
// spreadsheet runs it as a formula.
QByteArray ToCsv(const std::vector<DriveRecord>& records);
// One compact JSON object per line, keys as the CSV header.
QByteArray ToJsonLines(const std::vector<DriveRecord>& records);

} // namespace ufd
