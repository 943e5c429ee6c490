// ufd-station: the station window. --batch runs it headless on the
// offscreen platform, presses Start once and prints the rows (--json: one
// JSON object); --screenshot FILE does the same on the current display and
// saves the window's picture. --items, --product, --operator and --lot choose
// what the operator would choose in the window.
#include "config/product_config.h"
#include "config/program_directory.h"
#include "context/transport.h"
#include "platform/message_box.h"
#include "platform/program_info.h"
#include "settings/station_settings.h"
#include "station/batch.h"
#include "station/batch_json.h"
#include "station/operator_fields.h"
#include "station/run_recorder.h"
#include "station/scan_input.h"
#include "station/station_form.h"
#include "station/station_language.h"
#include "station/station_options.h"

#include <QApplication>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// The usage is English in the source and shown in the station's language.
constexpr const char* kUsageContext = "Usage";
constexpr const char* kUsage = QT_TRANSLATE_NOOP(
    "Usage", "usage: ufd-station [--batch [--json] | --screenshot FILE] [--items LIST]\n"
             "                   [--product FILE] [--operator NAME] [--lot TEXT]\n"
             "Formats and tests the USB flash drives of the line, as Product.ini in the\n"
             "program directory describes the product.\n"
             "  --batch            no window: press Start once discovery is done, print\n"
             "                     every slot's row; exit 0 all pass, 1 failed, 2 not run,\n"
             "                     3 records not stored\n"
             "  --json             with --batch: one JSON object on stdout instead of the\n"
             "                     table (run id, verdict, exit code, station, product,\n"
             "                     times, every drive); the messages go to stderr\n"
             "  --screenshot FILE  as --batch on the current display, then save the\n"
             "                     window's picture to FILE\n"
             "  --items LIST       the items to tick, comma-separated: format, manufacture,\n"
             "                     checkconfig, checkwp (checkwp runs alone)\n"
             "  --product FILE     this Product.ini instead of the program directory's\n"
             "  --operator NAME    who runs the station, kept in every record of the run\n"
             "                     (--batch without it: none, whatever the window keeps)\n"
             "  --lot TEXT         the lot, kept in every record of the run\n"
             "  --help             this text\n"
             "  --version          the program's version\n"
             "Simulated drives: set QUORLINK_RACK to a rack file. Settings: station.conf.\n");

// The language of what is printed before the application exists (the usage,
// a refused command line): station.conf's [Window] Language, else the
// locale's (also when station.conf does not load, which the run itself then
// reports).
QString TrBeforeStart(const char* context, const char* english) {
    const ufd::SettingsResult settings = ufd::LoadStationSettings(ufd::ProgramDirectory());
    return ufd::TranslateBeforeStart(settings.error ? QString() : settings.settings.Language,
                                     context, english);
}

QByteArray UsageBeforeStart() {
    return TrBeforeStart(kUsageContext, kUsage).toLocal8Bit();
}

} // namespace

int main(int argc, char** argv) {
    const bool help = std::any_of(argv + 1, argv + argc,
                                  [](const char* arg) { return std::strcmp(arg, "--help") == 0; });
    const QByteArray helpText = help ? UsageBeforeStart() : QByteArray(kUsage);
    if (const auto code = ufd::AnswerInfoOption(argc, argv, "ufd-station", helpText.constData())) {
        return *code;
    }
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
    }
    const ufd::OptionsResult parsed = ufd::ParseStationOptions(args, TrBeforeStart);
    if (parsed.error) {
        std::fprintf(stderr, "ufd-station: %s\n%s", qPrintable(*parsed.error),
                     UsageBeforeStart().constData());
        return ufd::kExitNotRun;
    }
    const ufd::StationOptions& options = parsed.options;
    const bool batch = options.batch;
    const QString& screenshot = options.screenshot;
    if (batch && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(ufd::kWindowCaption);

    // With --json stdout carries the JSON object alone; the lines go to stderr.
    QTextStream out(options.json ? stderr : stdout);
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
    std::function<void(const QByteArray&)> json;
    if (options.json) {
        json = [](const QByteArray& object) {
            std::fwrite(object.constData(), 1, static_cast<size_t>(object.size()), stdout);
            std::fflush(stdout);
        };
    }
    // A run that cannot start says why, and with --json still answers in JSON.
    auto notRun = [&](const QString& line) {
        if (unattended) {
            print(line);
        }
        if (json) {
            json(ufd::BatchJson(nullptr, nullptr, ufd::kExitNotRun, line));
        }
        return ufd::kExitNotRun;
    };

    // A bad station.conf stops before any drive is touched: a setting the
    // engineer wrote must never be replaced by a silent default.
    // Its refusal speaks the locale's language: the file's own is unknown.
    const ufd::SettingsResult settings =
        ufd::LoadStationSettings(ufd::ProgramDirectory(), TrBeforeStart);
    if (settings.error) {
        ufd::ShowMessageBox(
            *settings.error, ufd::kStyleStop,
            TrBeforeStart(ufd::kStationContext, ufd::kWindowCaption.toUtf8().constData()));
        return notRun(TrBeforeStart("TestFrm", "Start-up failed: ") + *settings.error);
    }

    ufd::InstallStationLanguage(settings.settings.Language);
    ufd::QuorlinkTransport transport;
    ufd::StationContext ctx(transport);
    ctx.Settings = settings.settings;
    QString resultsError;
    const std::shared_ptr<ufd::RunRecorder> recorder =
        ufd::MakeRunRecorder(settings.settings, &resultsError);
    if (!recorder) {
        ufd::ShowMessageBox(resultsError, ufd::kStyleStop, ufd::TrStation(ufd::kWindowCaption));
        return notRun(QCoreApplication::translate("TestFrm", "Start-up failed: ") + resultsError);
    }
    ufd::StationDependencies deps = ufd::StationDependencies::Real();
    deps.results = recorder;
    if (!options.product.isEmpty()) {
        deps.readProductConfig = [file = options.product](ufd::ProductConfig& config) {
            return ufd::ReadProductConfig(config, file.toStdString());
        };
    }
    auto* frm = new ufd::TestFrm(ctx, deps);
    frm->setAttribute(Qt::WA_DeleteOnClose);
    recorder->Attach(*frm);
    const ufd::StartupResult started = frm->Form_Load();
    if (!started.ok) {
        delete frm;
        return notRun(QCoreApplication::translate("TestFrm", "Start-up failed: ") + started.reason);
    }
    if (options.items) {
        if (const auto refused = ufd::TickItems(*frm, *options.items)) {
            delete frm;
            std::fprintf(stderr, "ufd-station: %s\n", qPrintable(*refused));
            return notRun(*refused);
        }
    }
    // [Records] OperatorLotPerRun: a batch run given no operator or lot
    // records none; the window's remembered fields belong to the operator at
    // the window, not to a script.
    const bool require = settings.settings.RequireOperatorLot;
    if (require && batch &&
        !ufd::OperatorLotMissing(options.operatorName.value_or(QString()),
                                 options.lot.value_or(QString()))
             .isEmpty()) {
        delete frm;
        std::fprintf(stderr, "ufd-station: %s\n%s",
                     qPrintable(QCoreApplication::translate(
                         "TestFrm", "--operator and --lot are required ([Records] "
                                    "RequireOperatorLot=true in station.conf)")),
                     qPrintable(QCoreApplication::translate(kUsageContext, kUsage)));
        if (json) {
            json(ufd::BatchJson(
                nullptr, nullptr, ufd::kExitNotRun,
                QCoreApplication::translate("TestFrm", "--operator and --lot are required")));
        }
        return ufd::kExitNotRun;
    }
    if (settings.settings.OperatorLot || require) {
        ufd::AddOperatorFields(*frm, *recorder, options.operatorName, options.lot,
                               !(unattended && settings.settings.OperatorLotPerRun), require);
    } else {
        recorder->SetOperatorLot(options.operatorName.value_or(QString()),
                                 options.lot.value_or(QString()));
    }
    ufd::InstallScanInput(*frm, settings.settings, ufd::DefaultClock());
    if (batch) {
        // Nobody sees a --batch window: shown, so it behaves as on screen,
        // but never painted (a --screenshot is).
        frm->setUpdatesEnabled(false);
    }
    frm->show();
    if (!unattended) {
        return QApplication::exec();
    }
    QPointer<ufd::TestFrm> window(frm);
    const int code = ufd::RunBatch(*frm, print, recorder.get(), json);
    if (!screenshot.isEmpty() && !window.isNull()) {
        // The picture shows what a click on the first failed row says.
        for (int row = 0; row < frm->ItemLab.Count() && !frm->ExplainRow(row); ++row) {
        }
        QApplication::processEvents();
        if (!frm->grab().save(screenshot)) {
            print(QCoreApplication::translate("TestFrm", "Could not save ") + screenshot);
        }
    }
    delete window.data();
    return code;
}
