// Batch mode: the same window, headless. It presses Start itself, prints
// every slot's row and the verdict, and turns the verdict into an exit code.
#pragma once

#include "station/run_recorder.h"
#include "station/station_form.h"

#include <QString>

namespace ufd {

inline constexpr int kExitAllPass = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitNotRun = 2;
inline constexpr int kExitNotStored = 3; // the run's records wait in the journal

// The table of slots 1..DiskCount: picture and box captions of the rows the
// window shows, the Status of every slot and its reason, and the verdict line.
QString BatchReport(const TestFrm& frm);
// The Row cell of slot record i: its row's caption, "(hidden row)" or "(no row)".
QString BatchRowCaption(const TestFrm& frm, int record);
// Presses Start when it is available and reports; messages go to print.
// With a recorder, the run id comes first and a warning line after the rows
// when the records could not be stored. With json, the run goes to it as one
// JSON object instead, and print gets only the messages.
int RunBatch(TestFrm& frm, const std::function<void(const QString&)>& print,
             RunRecorder* recorder = nullptr,
             const std::function<void(const QByteArray&)>& json = {});
// The scripted operator of batch mode: prints each box, answers OK, and
// No to the clearing question (which batch mode never asks).
void InstallBatchOperator(const std::function<void(const QString&)>& print);

} // namespace ufd
