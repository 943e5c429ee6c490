// ufd-results: what the stations recorded, from the database station.conf
// names (the same lookup as the station's).
#include "config/program_directory.h"
#include "platform/program_info.h"
#include "results/database_target.h"
#include "results/export.h"
#include "results/results_store.h"
#include "settings/station_settings.h"
#include "yield_commands.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace {

constexpr const char* kUsage =
    "usage: ufd-results COMMAND [--since DATE] [--station ID] [--product VID:PID|NAME]\n"
    "  list                 one line per drive: start, station, run, slot, serial, result\n"
    "  export --csv         every column, RFC 4180 CSV with a header line\n"
    "  export --json        every column, one JSON object per line\n"
    "  yield [--utc]        first-pass and final yield per product, station, socket, day\n"
    "                       (local time; --utc: UTC), lot and operator; failure Pareto\n"
    "  history SERIAL       every run of one drive, oldest first\n"
    "  serve [--listen ADDR:PORT]  the supervisor's page (default 127.0.0.1:8470)\n"
    "DATE is UTC, 2026-12-07 or 2026-12-07T08:00. The database is [Results] Database of\n"
    "station.conf ($UFD_STATION_CONF, else beside the station, else /etc/ufd-station).\n";

constexpr int kExitUsage = 2;
constexpr int kExitError = 1;

void Out(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

int Fail(const QString& message) {
    std::fprintf(stderr, "ufd-results: %s\n", qPrintable(message));
    return kExitError;
}

QString ListLine(const ufd::DriveRecord& r) {
    return QStringLiteral("%1  %2  %3  %4  %5  %6  %7")
        .arg(r.StartedUtc, r.StationId, r.RunId)
        .arg(r.Slot, 2)
        .arg(r.Serial.isEmpty() ? QStringLiteral("-") : r.Serial)
        .arg(r.Passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"))
        .arg(r.Passed ? QString()
                      : QStringLiteral("status ") +
                            QStringLiteral("%1").arg(r.Status, 2, 16, QLatin1Char('0')).toUpper());
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

    // Records compare their ISO times as text, so only ISO dates and times may
    // stand here.
    if (!filter.since.isEmpty() && !QDateTime::fromString(filter.since, Qt::ISODate).isValid() &&
        !QDate::fromString(filter.since, Qt::ISODate).isValid()) {
        std::fprintf(stderr,
                     "ufd-results: --since \"%s\" is not a date (2026-12-07) or time "
                     "(2026-12-07T08:00)\n",
                     qPrintable(filter.since));
        return kExitUsage;
    }
    const ufd::SettingsResult settings = ufd::LoadStationSettings(ufd::ProgramDirectory());
    if (settings.error) {
        return Fail(*settings.error);
    }
    const ufd::TargetResult target = ufd::ParseDatabaseSetting(settings.settings.Database);
    if (target.error) {
        return Fail(settings.settings.Source + QStringLiteral(": [Results] Database = \"") +
                    settings.settings.Database + QStringLiteral("\": ") + *target.error);
    }
    // Reading never creates a database.
    if (target.target.kind == ufd::DatabaseTarget::Kind::Sqlite &&
        !QFileInfo::exists(target.target.file)) {
        return Fail(target.target.file +
                    QStringLiteral(": no results database (no run recorded yet)"));
    }
    QString error;
    std::optional<std::vector<ufd::DriveRecord>> records;
    {
        ufd::ResultsStore store(target.target);
        records = store.Read(filter, &error);
    }
    if (!records) {
        return Fail(target.target.Describe() + QStringLiteral(": ") + error);
    }
    if (command == QStringLiteral("export")) {
        Out(format == QStringLiteral("--csv") ? ufd::ToCsv(*records) : ufd::ToJsonLines(*records));
    } else {
        for (const ufd::DriveRecord& r : *records) {
            Out(ListLine(r).trimmed().toUtf8() + '\n');
        }
    }
    return 0;
}
