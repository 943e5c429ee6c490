#include "yield_commands.h"

#include "terminal_text.h"
#include "yield_report.h"

#include <cstdio>

namespace ufd {

namespace {

constexpr int kExitError = 1;

int Fail(const QString& message) {
    std::fprintf(stderr, "ufd-results: %s\n", qPrintable(message));
    return kExitError;
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
