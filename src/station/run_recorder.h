// The run's record keeper: it times each item's device procedures per slot,
// and at the end of the run, before the verdict, hands one record per slot
// to the results writer, which stores it behind the window's back. When the
// database cannot be written the window shows a warning line.
#pragma once

#include "results/cfx_units_tested.h"
#include "results/results_writer.h"
#include "settings/station_settings.h"
#include "station/dependencies.h"
#include "station/run_state.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <memory>
#include <vector>

namespace ufd {

class TestFrm;

// What every record of this station carries besides the run.
struct RecorderIdentity {
    QString StationId;      // [Results] StationId, else the host name
    QString StationVersion; // the program's version
    QString ProductHash;    // SHA-256 of Product.ini's bytes, hex
    QString DropFolder{};   // [Records] DropFolder: the run for the MES; empty = none
    CfxLimits Limits{};     // the media floors the drop file judges figures by
};

class RunRecorder {
public:
    RunRecorder(std::shared_ptr<ResultsWriter> writer, RecorderIdentity identity);

    // The window's warning line; hidden while every record is stored.
    void Attach(TestFrm& frm);
    // A run starts: a new run id.
    void Begin();
    // The run's items are done: one record per slot of the run's state goes
    // to the writer.
    void Finish(const RunState& state, const StationContext& ctx);

    QString RunId() const { return runId_; }
    // Who runs the station and for which lot: kept in every later record.
    void SetOperatorLot(const QString& operatorName, const QString& lot) {
        operator_ = operatorName;
        lot_ = lot;
    }
    QString Operator() const { return operator_; }
    QString Lot() const { return lot_; }
    const RecorderIdentity& Identity() const { return identity_; }
    // The records of the last finished run, as handed to the writer.
    const std::vector<DriveRecord>& LastRun() const { return lastRun_; }
    // Blocks until the last run's records are stored or journaled.
    StoreOutcome WaitStored() { return writer_->WaitIdle(); }

private:
    std::shared_ptr<ResultsWriter> writer_;
    RecorderIdentity identity_;
    QString runId_;
    QString operator_;
    QString lot_;
    std::vector<DriveRecord> lastRun_;
};

// The station id of the records: the setting, else the host name.
QString RecordStationId(const QString& setting);

// The recorder of the real station: the database of station.conf (a bad
// [Results] Database is an error naming file, key and value), the journal
// beside the default database, and Product.ini's hash.
std::shared_ptr<RunRecorder> MakeRunRecorder(const StationSettings& settings, QString* error);

} // namespace ufd
