// The MES's drop folder ([Records] DropFolder): one file per run, which a
// reader watching the folder sees whole or not at all.
#pragma once

#include "results/cfx_units_tested.h"

#include <QString>

#include <optional>
#include <vector>

namespace ufd {

// Writes `<run id>.json` into folder: a hidden temporary file beside it, on
// disk, then renamed over. Returns the path written, or a message that says
// which file could not be written and why.
struct DropOutcome {
    QString path;
    std::optional<QString> error;
};
DropOutcome WriteCfxDropFile(const QString& folder, const std::vector<DriveRecord>& run,
                             const CfxLimits& limits);

// The station's call after a run's records went to the store: nothing without
// a folder; a file that cannot be written is a warning on stderr (the records
// are stored all the same). Returns that warning, empty when none.
QString WriteDropFile(const QString& folder, const std::vector<DriveRecord>& run,
                      const CfxLimits& limits);

} // namespace ufd
