#include "yield_commands.h"

#include "results_server.h"
#include "terminal_text.h"
#include "yield_report.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

#include <sys/resource.h>

namespace ufd {

namespace {

constexpr int kExitError = 1;

int Fail(const QString& message) {
    std::fprintf(stderr, "ufd-results: %s\n", qPrintable(message));
    return kExitError;
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

int RunYieldCommand(const QString& command, const YieldOptions& options,
                    const DatabaseTarget& target) {
    if (command == QStringLiteral("serve")) {
        return Serve(target, options.address, options.port);
    }
    RecordReader reader(target);
    QString error;
    std::optional<QString> text;
    if (command == QStringLiteral("yield")) {
        YieldQueries queries(reader);
        text = YieldReportText(queries, options.filter, &error);
    } else if (reader.OpenTable(&error)) {
        if (const auto runs = reader.Drive(options.serial, &error)) {
            text = HistoryText(*runs);
        }
    }
    if (!text) {
        return Fail(target.Describe() + QStringLiteral(": ") + error);
    }
    if (command == QStringLiteral("history") && text->isEmpty()) {
        return Fail(
            QStringLiteral("no run of a drive with serial \"%1\"").arg(Visible(options.serial)));
    }
    const QByteArray bytes = text->toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    return 0;
}

} // namespace ufd
