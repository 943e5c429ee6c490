// The operator's name and the lot on the window ([Window] OperatorLot): two
// fields under the items. What they hold goes into every record of the runs
// that follow and is remembered per user for the next start.
#pragma once

#include <QString>

#include <optional>

namespace ufd {

class RunRecorder;
class TestFrm;

// Values given on the command line replace the remembered ones.
void AddOperatorFields(TestFrm& frm, RunRecorder& recorder,
                       const std::optional<QString>& operatorName,
                       const std::optional<QString>& lot);

} // namespace ufd
