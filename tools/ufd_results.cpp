// ufd-results: what the stations recorded, from the database station.conf
// names (the same lookup as the station's).
#include "config/program_directory.h"
#include "platform/program_info.h"
#include "record_export.h"
#include "results/cfx_units_tested.h"
#include "results/database_target.h"
#include "results/record_reader.h"
#include "results/status_reasons.h"
#include "results/time_option.h"
#include "serve_command.h"
#include "settings/station_settings.h"
#include "terminal_text.h"
#include "yield_commands.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

#include <unistd.h>

namespace {

constexpr const char* kUsage =
    "usage: ufd-results COMMAND [--since DATE] [--station ID] [--product VID:PID|NAME]\n"
    "  list                 one line per drive: start, station, run, slot, serial, result\n"
    "                       and, for a failed drive, its status and the reason in words\n"
    "  export --csv         every column, RFC 4180 CSV with a header line\n"
    "  export --json        every column, one JSON object per line\n"
    "  export --cfx RUN     one run as an IPC-CFX UnitsTested message, as the drop folder gets it\n"
    "  yield [--utc]        first-pass and final yield per product, station, socket, day\n"
    "                       (local time; --utc: UTC), lot and operator; failure Pareto\n"
    "  history SERIAL       every run of one drive, oldest first\n"
    "  serve [--listen ADDR:PORT] [--host-name NAME]... [--open]\n"
    "                       the supervisor's page (default 127.0.0.1:8470); another\n"
    "                       address asks for the key of [Serve] KeyFile unless --open\n"
    "  codes                every Status code and its reason in words\n"
    "DATE is 2026-12-07 (UTC), 2026-12-07T08:00 (UTC) or 2026-12-07T08:00+05:00 (any offset).\n"
    "The database is [Results] Database of station.conf ($UFD_STATION_CONF, else beside the\n"
    "station, else /etc/ufd-station), opened read-only.\n";

constexpr int kExitUsage = 2;
constexpr int kExitError = 1;

void Out(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

int Fail(const QString& message) {
    std::fprintf(stderr, "ufd-results: %s\n", qPrintable(message));
    return kExitError;
}

using ufd::Visible;

QString ListLine(const ufd::DriveRecord& r) {
    QStringList fields = {Visible(r.StartedUtc),
                          Visible(r.StationId),
                          Visible(r.RunId),
                          QStringLiteral("%1").arg(r.Slot, 2),
                          r.Serial.isEmpty() ? QStringLiteral("-") : Visible(r.Serial),
                          r.Passed ? QStringLiteral("PASS") : QStringLiteral("FAIL")};
    if (!r.Passed) {
        fields << QStringLiteral("status ") +
                      QStringLiteral("%1").arg(r.Status, 2, 16, QLatin1Char('0')).toUpper() +
                      QStringLiteral(" (") + ufd::StatusReasonText(r.Status) + QLatin1Char(')');
    }
    return fields.join(QStringLiteral("  "));
}

// The records with every text made visible, for a CSV shown on a terminal: a
// file or a pipe gets the texts exactly as stored (quoted as CSV quotes them).
std::vector<ufd::DriveRecord> ForTerminal(const std::vector<ufd::DriveRecord>& records) {
    std::vector<ufd::DriveRecord> out;
    out.reserve(records.size());
    const std::vector<ufd::Column>& columns = ufd::RecordColumns();
    for (const ufd::DriveRecord& r : records) {
        QVariantList values = ufd::ToValues(r);
        for (size_t i = 0; i < columns.size(); ++i) {
            QVariant& v = values[static_cast<qsizetype>(i)];
            if (columns[i].type == ufd::ColumnType::Text && !v.isNull()) {
                v = Visible(v.toString());
            }
        }
        out.push_back(ufd::FromValues(values));
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto code = ufd::AnswerInfoOption(argc, argv, "ufd-results", kUsage)) {
        return *code;
    }
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const QString command = args.takeFirst();
    if (command == QStringLiteral("codes") && args.isEmpty()) {
        for (const ufd::StatusCode& code : ufd::kStatusCodes) {
            Out((ufd::StatusCodeLine(code) + QLatin1Char('\n')).toUtf8());
        }
        return 0;
    }
    // One loop for every command's options: each option says which
    // commands take it.
    ufd::YieldOptions options;
    QString format;
    QString cfxRun;
    const bool filters = command == QStringLiteral("list") || command == QStringLiteral("export") ||
                         command == QStringLiteral("yield");
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        QString* value = a == QStringLiteral("--since")     ? &options.filter.since
                         : a == QStringLiteral("--station") ? &options.filter.station
                         : a == QStringLiteral("--product") ? &options.filter.product
                                                            : nullptr;
        if (filters && value != nullptr && !args.isEmpty()) {
            *value = args.takeFirst();
        } else if (command == QStringLiteral("export") &&
                   (a == QStringLiteral("--csv") || a == QStringLiteral("--json"))) {
            format = a;
        } else if (command == QStringLiteral("export") && a == QStringLiteral("--cfx") &&
                   !args.isEmpty()) {
            format = a;
            cfxRun = args.takeFirst();
        } else if (command == QStringLiteral("yield") && a == QStringLiteral("--utc")) {
            options.filter.utc = true;
        } else if (command == QStringLiteral("history") && options.serial.isEmpty() &&
                   !a.startsWith(QStringLiteral("--")) && !a.isEmpty()) {
            options.serial = a;
        } else if (command == QStringLiteral("serve") && a == QStringLiteral("--listen") &&
                   !args.isEmpty()) {
            const QString listen = args.takeFirst();
            if (!ufd::ParseListen(listen, &options.address, &options.port)) {
                std::fprintf(stderr,
                             "ufd-results: --listen \"%s\" is not ADDRESS:PORT "
                             "(127.0.0.1:8470, [::1]:8470)\n",
                             qPrintable(Visible(listen)));
                return kExitUsage;
            }
        } else if (command == QStringLiteral("serve") && a == QStringLiteral("--host-name") &&
                   !args.isEmpty()) {
            const QString name = args.takeFirst();
            if (!ufd::ServeHostName(name)) {
                std::fprintf(stderr,
                             "ufd-results: --host-name \"%s\" is not a host name "
                             "(line-3.example, station-3)\n",
                             qPrintable(Visible(name)));
                return kExitUsage;
            }
            options.hostNames << name;
        } else if (command == QStringLiteral("serve") && a == QStringLiteral("--open")) {
            options.open = true;
        } else {
            std::fprintf(stderr, "ufd-results: unexpected argument \"%s\"\n%s",
                         qPrintable(Visible(a)), kUsage);
            return kExitUsage;
        }
    }
    if (command == QStringLiteral("history") && options.serial.isEmpty()) {
        std::fprintf(stderr, "ufd-results: history needs the drive's serial\n%s", kUsage);
        return kExitUsage;
    }
    const bool known = command == QStringLiteral("list") || command == QStringLiteral("yield") ||
                       command == QStringLiteral("history") || command == QStringLiteral("serve") ||
                       (command == QStringLiteral("export") && !format.isEmpty());
    if (!known) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }

    ufd::RecordFilter& filter = options.filter;
    if (!filter.since.isEmpty()) {
        const std::optional<QString> since = ufd::ParseTimeOption(filter.since);
        if (!since) {
            std::fprintf(stderr,
                         "ufd-results: --since \"%s\" is not a date (2026-12-07) or time "
                         "(2026-12-07T08:00 UTC, 2026-12-07T08:00+05:00)\n",
                         qPrintable(Visible(filter.since)));
            return kExitUsage;
        }
        filter.since = *since;
    }
    const ufd::SettingsResult settings = ufd::LoadStationSettings(ufd::ProgramDirectory());
    if (settings.error) {
        return Fail(*settings.error);
    }
    const ufd::TargetResult target = ufd::ParseDatabaseSetting(settings.settings.Database);
    if (target.error) {
        return Fail(ufd::SettingError(
            settings.settings.Source, QStringLiteral("Results"), QStringLiteral("Database"),
            ufd::MaskedDatabaseSetting(settings.settings.Database), *target.error));
    }
    if (command == QStringLiteral("serve")) {
        return ufd::RunServe(options, target.target, settings.settings);
    }
    if (command != QStringLiteral("list") && command != QStringLiteral("export")) {
        return ufd::RunYieldCommand(command, options, target.target);
    }
    QString error;
    std::optional<std::vector<ufd::DriveRecord>> records;
    {
        ufd::RecordReader reader(target.target);
        records = reader.Records(filter, &error);
    }
    if (!records) {
        return Fail(target.target.Describe() + QStringLiteral(": ") + error);
    }
    if (format == QStringLiteral("--cfx")) {
        const auto message = ufd::CfxExportOfRun(
            *records, cfxRun, {settings.settings.MinWriteMBps, settings.settings.MinReadMBps});
        if (!message) {
            return Fail(QStringLiteral("no record of run \"%1\" in %2")
                            .arg(Visible(cfxRun), target.target.Describe()));
        }
        Out(*message);
    } else if (format == QStringLiteral("--csv")) {
        Out(ufd::ToCsv(::isatty(STDOUT_FILENO) == 1 ? ForTerminal(*records) : *records));
    } else if (format == QStringLiteral("--json")) {
        Out(ufd::TerminalSafeJson(ufd::ToJsonLines(*records)));
    } else {
        for (const ufd::DriveRecord& r : *records) {
            Out(ListLine(r).toUtf8() + '\n');
        }
    }
    return 0;
}
