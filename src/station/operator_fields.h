// The operator's name and the lot on the window ([Window] OperatorLot): two
// fields under the items. What they hold goes into every record of the runs
// that follow and is remembered per user for the next start.
#pragma once

#include <QString>

#include <optional>

namespace ufd {

class RunRecorder;
class TestFrm;

// Values given on the command line replace the remembered ones. Without
// remember (a batch run) the fields hold what was given and nothing is read
// or written back. With require, Start stays disabled while either is empty.
void AddOperatorFields(TestFrm& frm, RunRecorder& recorder,
                       const std::optional<QString>& operatorName,
                       const std::optional<QString>& lot, bool remember = true,
                       bool require = false);

// The refusal of a run without an operator or a lot; empty when both are there.
QString OperatorLotMissing(const QString& operatorName, const QString& lot);

} // namespace ufd
