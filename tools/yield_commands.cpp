#include "yield_commands.h"

#include "config/program_directory.h"
#include "results/database_target.h"
#include "results/time_option.h"
#include "results/yield_report.h"
#include "serve_command.h"
#include "settings/station_settings.h"

#include <cstdio>

namespace ufd {

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitError = 1;

int Fail(const QString& message, int code = kExitError) {
    std::fprintf(stderr, "ufd-results: %s\n", qPrintable(message));
    return code;
}

std::optional<DatabaseTarget> Target(QString* error) {
    const SettingsResult settings = LoadStationSettings(ProgramDirectory());
    if (settings.error) {
        *error = *settings.error;
        return std::nullopt;
    }
    const TargetResult target = ParseDatabaseSetting(settings.settings.Database);
    if (target.error) {
        *error = settings.settings.Source + QStringLiteral(": [Results] Database = \"") +
                 settings.settings.Database + QStringLiteral("\": ") + *target.error;
        return std::nullopt;
    }
    return target.target;
}

} // namespace

std::optional<int> RunYieldCommand(const QString& command, QStringList args) {
    if (command != QStringLiteral("yield") && command != QStringLiteral("history") &&
        command != QStringLiteral("serve")) {
        return std::nullopt;
    }
    if (command == QStringLiteral("serve")) {
        return RunServe(std::move(args));
    }
    YieldFilter filter;
    QString serial;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        QString* value = a == QStringLiteral("--since")     ? &filter.since
                         : a == QStringLiteral("--station") ? &filter.station
                         : a == QStringLiteral("--product") ? &filter.product
                                                            : nullptr;
        const bool isYield = command == QStringLiteral("yield");
        if (isYield && value != nullptr && !args.isEmpty()) {
            *value = args.takeFirst();
        } else if (isYield && a == QStringLiteral("--utc")) {
            filter.utc = true;
        } else if (command == QStringLiteral("history") && serial.isEmpty() &&
                   !a.startsWith(QStringLiteral("--")) && !a.isEmpty()) {
            serial = a;
        } else {
            return Fail(QStringLiteral("unexpected argument \"%1\" (see --help)").arg(a),
                        kExitUsage);
        }
    }
    if (command == QStringLiteral("history") && serial.isEmpty()) {
        return Fail(QStringLiteral("history needs the drive's serial (see --help)"), kExitUsage);
    }
    if (!filter.since.isEmpty()) {
        const std::optional<QString> since = ParseTimeOption(filter.since);
        if (!since) {
            return Fail(QStringLiteral("--since \"") + filter.since +
                            QStringLiteral("\" is not a date (2026-12-07) or time "
                                           "(2026-12-07T08:00, 2026-12-07T08:00+05:00)"),
                        kExitUsage);
        }
        filter.since = *since;
    }
    QString error;
    const std::optional<DatabaseTarget> target = Target(&error);
    if (!target) {
        return Fail(error);
    }
    ReadOnlyDatabase db(*target);
    YieldQueries queries(db);
    const std::optional<QString> text = command == QStringLiteral("yield")
                                            ? YieldReportText(queries, db, filter, &error)
                                            : HistoryText(queries, serial, &error);
    if (!text) {
        return Fail(target->Describe() + QStringLiteral(": ") + error);
    }
    if (command == QStringLiteral("history") && text->isEmpty()) {
        return Fail(QStringLiteral("no run of a drive with serial \"%1\"").arg(serial));
    }
    const QByteArray bytes = text->toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    return 0;
}

} // namespace ufd
