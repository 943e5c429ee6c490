// ufd-results: what the stations recorded, from the database station.conf
// names (the same lookup as the station's).
#include "config/program_directory.h"
#include "platform/program_info.h"
#include "results/database_target.h"
#include "results/export.h"
#include "results/results_store.h"
#include "results/status_reasons.h"
#include "results/time_option.h"
#include "settings/station_settings.h"
#include "yield_commands.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

constexpr const char* kUsage =
    "usage: ufd-results COMMAND [--since DATE] [--station ID] [--product VID:PID|NAME]\n"
    "  list                 one line per drive: start, station, run, slot, serial, result\n"
    "                       and, for a failed drive, its status and the reason in words\n"
    "  export --csv         every column, RFC 4180 CSV with a header line\n"
    "  export --json        every column, one JSON object per line\n"
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

// A field as one run of visible text: a newline, a tab or any other control
// character in a serial or station id shows as an escape, so one record is
// always one line and no field can forge another.
QString Visible(const QString& field) {
    QString out;
    for (const QChar c : field) {
        const char16_t u = c.unicode();
        if (u == u'\\') {
            out += QStringLiteral("\\\\");
        } else if (u == u'\n') {
            out += QStringLiteral("\\n");
        } else if (u == u'\r') {
            out += QStringLiteral("\\r");
        } else if (u == u'\t') {
            out += QStringLiteral("\\t");
        } else if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029) {
            out +=
                QStringLiteral("\\u") + QStringLiteral("%1").arg(int{u}, 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

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
        for (const ufd::StatusReason& row : ufd::StatusReasons()) {
            Out(QStringLiteral("0x%1  %2  %3\n")
                    .arg(QString::number(row.status, 16).toUpper(),
                         QString::number(row.status).rightJustified(3),
                         QString::fromUtf8(row.reason))
                    .toUtf8());
        }
        return 0;
    }
    if (const auto code = ufd::RunYieldCommand(command, args)) {
        return *code;
    }
    ufd::RecordFilter filter;
    QString format;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        QString* value = a == QStringLiteral("--since")     ? &filter.since
                         : a == QStringLiteral("--station") ? &filter.station
                         : a == QStringLiteral("--product") ? &filter.product
                                                            : nullptr;
        if (value != nullptr && !args.isEmpty()) {
            *value = args.takeFirst();
        } else if (command == QStringLiteral("export") &&
                   (a == QStringLiteral("--csv") || a == QStringLiteral("--json"))) {
            format = a;
        } else {
            std::fprintf(stderr, "ufd-results: unexpected argument \"%s\"\n%s", qPrintable(a),
                         kUsage);
            return kExitUsage;
        }
    }
    const bool known = command == QStringLiteral("list") ||
                       (command == QStringLiteral("export") && !format.isEmpty());
    if (!known) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }

    if (!filter.since.isEmpty()) {
        const std::optional<QString> since = ufd::ParseTimeOption(filter.since);
        if (!since) {
            std::fprintf(stderr,
                         "ufd-results: --since \"%s\" is not a date (2026-12-07) or time "
                         "(2026-12-07T08:00 UTC, 2026-12-07T08:00+05:00)\n",
                         qPrintable(filter.since));
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
    QString error;
    std::optional<std::vector<ufd::DriveRecord>> records;
    {
        ufd::ResultsStore store(target.target, ufd::ResultsStore::Access::ReadOnly);
        records = store.Read(filter, &error);
    }
    if (!records) {
        return Fail(target.target.Describe() + QStringLiteral(": ") + error);
    }
    if (command == QStringLiteral("export")) {
        Out(format == QStringLiteral("--csv") ? ufd::ToCsv(*records) : ufd::ToJsonLines(*records));
    } else {
        for (const ufd::DriveRecord& r : *records) {
            Out(ListLine(r).toUtf8() + '\n');
        }
    }
    return 0;
}
