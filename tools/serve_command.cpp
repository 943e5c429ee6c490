#include "serve_command.h"

#include "config/bounded_file.h"
#include "results_server.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>

#include <cstdio>

#include <sys/resource.h>

namespace ufd {

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitError = 1;
constexpr qint64 kMaxKeyFile = 4096;

int Fail(const QString& message, int code = kExitError) {
    std::fprintf(stderr, "ufd-results: %s\n", qPrintable(message));
    return code;
}

// Every idle connection a browser or a screen keeps open is a descriptor.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

QByteArray ChartJs() {
    const QString path = FindChartJs();
    if (path.isEmpty()) {
        std::fprintf(stderr, "ufd-results: Chart.js not found in /usr/share/javascript/chart.js "
                             "(Debian package libjs-chart.js): the page shows its tables without "
                             "charts\n");
        return {};
    }
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

bool ServeHostName(const QString& name) {
    if (name.isEmpty() || name.size() > 253) {
        return false;
    }
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-' && c != u'.') {
            return false;
        }
    }
    return true;
}

int RunServe(const YieldOptions& o, const DatabaseTarget& target, const StationSettings& settings) {
    // Loopback is this machine's own; any other address is the line's
    // network, where the records are for those given the key.
    AccessRules rules;
    rules.hosts = HostsFor(o.address, o.hostNames);
    const QString keyFile = settings.ServeKeyFile;
    if (!o.address.isLoopback() && !o.open) {
        if (keyFile.isEmpty()) {
            return Fail(QStringLiteral("serving %1 to the network needs an access key: [Serve] "
                                       "KeyFile in %2 (the package makes "
                                       "/etc/ufd-station/serve.key), or --open to serve "
                                       "every record to anyone who reaches the port")
                            .arg(o.address.toString(), settings.Source.isEmpty()
                                                           ? QStringLiteral("station.conf")
                                                           : settings.Source),
                        kExitUsage);
        }
        const std::optional<QByteArray> key =
            ReadBoundedFile(QFile::encodeName(keyFile).toStdString(), kMaxKeyFile);
        if (!key || !AcceptableKey(key->trimmed())) {
            return Fail(SettingError(settings.Source, QStringLiteral("Serve"),
                                     QStringLiteral("KeyFile"), keyFile,
                                     key ? QStringLiteral("the key must be 16 to 256 letters, "
                                                          "digits, '-', '_', '.' or '~'")
                                         : QStringLiteral("not a readable regular file")));
        }
        rules.key = key->trimmed();
    }

    RaiseDescriptorLimit();
    ResultsServer server(target, ChartJs());
    // The figures' index is read before the server listens, so the first
    // page is answered as fast as every later one.
    if (QString error; !server.LoadIndex(&error)) {
        std::fprintf(stderr, "ufd-results: %s: %s (the page will say so until it opens)\n",
                     qPrintable(target.Describe()), qPrintable(error));
    }
    const quint16 bound = server.Listen(o.address, o.port, rules);
    if (bound == 0) {
        return Fail(QStringLiteral("cannot listen on %1:%2: %3")
                        .arg(o.address.toString(), QString::number(o.port), server.ListenError()));
    }
    const QString host = o.address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + o.address.toString() + u']'
                             : o.address.toString();
    const QString key =
        rules.key.isEmpty() ? QString() : QStringLiteral("?key=") + QString::fromLatin1(rules.key);
    std::printf("Serving http://%s:%u/%s from %s\n", qPrintable(host), bound, qPrintable(key),
                qPrintable(target.Describe()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

} // namespace ufd
