// --batch --json: the run as one JSON object for scripts, in place of the
// table: run id, verdict, exit code and one entry per drive with its row,
// drive index, port, serial, status, reason and each item's result.
#pragma once

#include <QByteArray>
#include <QString>

namespace ufd {

class RunRecorder;
class TestFrm;

// frm and recorder are null when the run did not finish (then no drive is
// listed); message is what the table would print below the rows or instead
// of them.
QByteArray BatchJson(const TestFrm* frm, const RunRecorder* recorder, int exitCode,
                     const QString& message);

} // namespace ufd
