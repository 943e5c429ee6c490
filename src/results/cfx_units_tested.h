// One run's records as the line's MES reads them: an IPC-CFX UnitsTested
// message. The station's drop folder and `ufd-results export --cfx` both
// build it here, from the stored records of one run, so the two agree.
#pragma once

#include "results/drive_record.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

namespace ufd {

// The limits a media figure is judged by that the records do not carry:
// station.conf's speed floors in MB/s (0: none).
struct CfxLimits {
    double MinWriteMBps = 0;
    double MinReadMBps = 0;
};

inline constexpr const char* kCfxUnitsTestedName = "CFX.Production.TestAndInspection.UnitsTested";

// The message (envelope and body) of one run; `run` holds the records of one
// run id, in slot order. Identifiers derive from the run id, so the same run
// gives the same bytes every time.
QJsonObject CfxUnitsTested(const std::vector<DriveRecord>& run, const CfxLimits& limits);
QByteArray CfxUnitsTestedJson(const std::vector<DriveRecord>& run, const CfxLimits& limits);

// The records of runId among `records` as the message; nullopt when none
// carries that run id.
std::optional<QByteArray> CfxExportOfRun(const std::vector<DriveRecord>& records,
                                         const QString& runId, const CfxLimits& limits);

} // namespace ufd
