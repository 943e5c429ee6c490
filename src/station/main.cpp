// ufd-station: the station window. --batch runs it headless on the
// offscreen platform, presses Start once and prints the rows; --screenshot
// FILE does the same on the current display and saves the window's picture.
#include "config/program_directory.h"
#include "context/transport.h"
#include "platform/message_box.h"
#include "platform/program_info.h"
#include "settings/station_settings.h"
#include "station/batch.h"
#include "station/run_recorder.h"
#include "station/test_frm.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "usage: ufd-station [--batch | --screenshot FILE]\n"
    "Formats and tests the USB flash drives of the line, as Product.ini in the\n"
    "program directory describes the product.\n"
    "  --batch            no window: press Start once discovery is done, print\n"
    "                     every slot's row; exit 0 all pass, 1 failed, 2 not run\n"
    "  --screenshot FILE  as --batch on the current display, then save the\n"
    "                     window's picture to FILE\n"
    "  --help             this text\n"
    "  --version          the program's version\n"
    "Simulated drives: set QUORLINK_RACK to a rack file. Settings: station.conf.\n";

} // namespace

int main(int argc, char** argv) {
    if (const auto code = ufd::AnswerInfoOption(argc, argv, "ufd-station", kUsage)) {
        return *code;
    }
    bool batch = false;
    QString screenshot;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--batch") == 0) {
            batch = true;
        } else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            screenshot = QString::fromLocal8Bit(argv[++i]);
        }
    }
    if (batch && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(ufd::kWindowCaption);

    QTextStream out(stdout);
    auto print = [&out](const QString& text) {
        out << text;
        if (!text.endsWith(QLatin1Char('\n'))) {
            out << '\n';
        }
        out.flush();
    };
    const bool unattended = batch || !screenshot.isEmpty();
    if (unattended) {
        ufd::InstallBatchOperator(print);
    }

    // A bad station.conf stops before any drive is touched: a setting the
    // engineer wrote must never be replaced by a silent default.
    const ufd::SettingsResult settings = ufd::LoadStationSettings(ufd::ProgramDirectory());
    if (settings.error) {
        ufd::ShowMessageBox(*settings.error, ufd::kStyleStop, ufd::kWindowCaption);
        if (unattended) {
            print(QStringLiteral("Start-up failed: ") + *settings.error);
        }
        return ufd::kExitNotRun;
    }

    ufd::QuorlinkTransport transport;
    ufd::StationContext ctx(transport);
    ctx.Settings = settings.settings;
    QString resultsError;
    const std::shared_ptr<ufd::RunRecorder> recorder =
        ufd::MakeRunRecorder(settings.settings, &resultsError);
    if (!recorder) {
        ufd::ShowMessageBox(resultsError, ufd::kStyleStop, ufd::kWindowCaption);
        if (unattended) {
            print(QStringLiteral("Start-up failed: ") + resultsError);
        }
        return ufd::kExitNotRun;
    }
    ufd::StationDependencies deps = ufd::StationDependencies::Real();
    deps.results = recorder;
    auto* frm = new ufd::TestFrm(ctx, deps);
    frm->setAttribute(Qt::WA_DeleteOnClose);
    recorder->Attach(*frm);
    const ufd::StartupResult started = frm->Form_Load();
    if (!started.ok) {
        if (unattended) {
            print(QStringLiteral("Start-up failed: ") + started.reason);
        }
        delete frm;
        return ufd::kExitNotRun;
    }
    frm->show();
    if (!unattended) {
        return QApplication::exec();
    }
    QPointer<ufd::TestFrm> window(frm);
    const int code = ufd::RunBatch(*frm, print, recorder.get());
    if (!screenshot.isEmpty() && !window.isNull()) {
        // The picture shows what a click on the first failed row says.
        for (int row = 0; row < frm->ItemLab.Count() && !frm->ExplainRow(row); ++row) {
        }
        QApplication::processEvents();
        if (!frm->grab().save(screenshot)) {
            print(QStringLiteral("Could not save ") + screenshot);
        }
    }
    delete window.data();
    return code;
}
