#include "yield_commands.h"

#include "config/program_directory.h"
#include "results/database_target.h"
#include "results/time_option.h"
#include "results/yield_report.h"
#include "results_server.h"
#include "settings/station_settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>

#include <cstdio>

#include <sys/resource.h>

namespace ufd {

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitError = 1;
constexpr quint16 kDefaultPort = 8470;

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

// "ADDR:PORT", "[v6]:PORT".
bool ParseListen(const QString& text, QHostAddress* address, quint16* port) {
    const qsizetype colon = text.lastIndexOf(u':');
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']')) {
        host = host.mid(1, host.size() - 2);
    }
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (colon < 0 || !ok || p > 65535 || !address->setAddress(host)) {
        return false;
    }
    *port = static_cast<quint16>(p);
    return true;
}

// Every idle connection a browser or a screen keeps open is a descriptor.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int Serve(const DatabaseTarget& target, const QHostAddress& address, quint16 port) {
    RaiseDescriptorLimit();
    const QString chartJs = FindChartJs();
    QByteArray script;
    if (chartJs.isEmpty()) {
        std::fprintf(stderr, "ufd-results: Chart.js not found in /usr/share/javascript/chart.js "
                             "(Debian package libjs-chart.js): the page shows its tables without "
                             "charts\n");
    } else {
        QFile f(chartJs);
        script = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    ResultsServer server(target, script);
    // The figures' index is read before the server listens, so the first
    // page is answered as fast as every later one.
    if (QString error; !server.LoadIndex(&error)) {
        std::fprintf(stderr, "ufd-results: %s: %s (the page will say so until it opens)\n",
                     qPrintable(target.Describe()), qPrintable(error));
    }
    const quint16 bound = server.listen(address, port);
    if (bound == 0) {
        return Fail(QStringLiteral("cannot listen on %1:%2")
                        .arg(address.toString(), QString::number(port)));
    }
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + address.toString() + u']'
                             : address.toString();
    std::printf("Serving http://%s:%u/ from %s\n", qPrintable(host), bound,
                qPrintable(target.Describe()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

} // namespace

std::optional<int> RunYieldCommand(const QString& command, QStringList args) {
    if (command != QStringLiteral("yield") && command != QStringLiteral("history") &&
        command != QStringLiteral("serve")) {
        return std::nullopt;
    }
    YieldFilter filter;
    QString serial;
    QHostAddress address(QHostAddress::LocalHost);
    quint16 port = kDefaultPort;
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
        } else if (command == QStringLiteral("serve") && a == QStringLiteral("--listen") &&
                   !args.isEmpty()) {
            const QString listen = args.takeFirst();
            if (!ParseListen(listen, &address, &port)) {
                return Fail(QStringLiteral("--listen \"%1\" is not ADDRESS:PORT "
                                           "(127.0.0.1:8470, [::1]:8470)")
                                .arg(listen),
                            kExitUsage);
            }
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
    if (command == QStringLiteral("serve")) {
        return Serve(*target, address, port);
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
