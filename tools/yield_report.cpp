#include "yield_report.h"

#include "results/socket_map.h"
#include "results/status_reasons.h"
#include "terminal_text.h"

namespace ufd {

namespace {

QString Percent(qint64 part, qint64 whole) {
    return whole > 0 ? QString::number(100.0 * double(part) / double(whole), 'f', 1) + u'%'
                     : QStringLiteral("-");
}

QString Code(int status) {
    return QStringLiteral("%1").arg(status, 2, 16, QLatin1Char('0')).toUpper();
}

QString Section(const QString& title, const std::vector<YieldRow>& rows) {
    QString out = title + u'\n';
    for (const YieldRow& r : rows) {
        const QString name = Visible(r.station.isEmpty() ? r.key : r.station + u' ' + r.key);
        // One arg() for all: a name holding "%2" stays as it is.
        out += QStringLiteral("  %1  units %2  first pass %3 %4  final %5 %6\n")
                   .arg(name.trimmed().isEmpty() ? QStringLiteral("(unknown)") : name,
                        QString::number(r.units), QString::number(r.firstPass),
                        Percent(r.firstPass, r.units), QString::number(r.finalPass),
                        Percent(r.finalPass, r.units));
    }
    return out;
}

} // namespace

std::optional<QString> YieldReportText(YieldQueries& queries, const RecordFilter& filter,
                                       QString* error) {
    RecordReader& db = queries.Reader();
    const QString time = filter.utc ? QStringLiteral("UTC") : QStringLiteral("local time");
    std::vector<std::pair<YieldBy, QString>> sections = {
        {YieldBy::Product, QStringLiteral("Per product")},
        {YieldBy::Station, QStringLiteral("Per station")},
        {YieldBy::Socket, QStringLiteral("Per socket")},
        {YieldBy::Day, QStringLiteral("Per day (") + time + u')'},
    };
    if (!db.OpenTable(error)) {
        return std::nullopt;
    }
    if (db.HasColumn(QStringLiteral("lot"))) {
        sections.emplace_back(YieldBy::Lot, QStringLiteral("Per lot"));
    }
    if (db.HasColumn(QStringLiteral("operator"))) {
        sections.emplace_back(YieldBy::Operator, QStringLiteral("Per operator"));
    }
    QString out = QStringLiteral("First-pass yield: each drive's first run with Format; final "
                                 "yield: its last run.\n");
    for (const auto& [by, title] : sections) {
        const auto rows = queries.Yield(by, filter, error);
        if (!rows) {
            return std::nullopt;
        }
        out += Section(title, *rows);
        if (by == YieldBy::Socket) {
            for (const SocketRate& s : SocketMap(*rows)) {
                if (s.suspect) {
                    out +=
                        QStringLiteral("  suspect: %1 %2 fails %3 of first passes, its "
                                       "station's other sockets %4\n")
                            .arg(Visible(s.station), Visible(s.socket), Percent(s.failed, s.units),
                                 QString::number(100 * s.othersRate, 'f', 1) + u'%');
                }
            }
        }
    }
    const auto pareto = queries.Pareto(filter, error);
    if (!pareto) {
        return std::nullopt;
    }
    qint64 total = 0;
    for (const ParetoRow& p : *pareto) {
        total += p.count;
    }
    out += QStringLiteral("Failures per code (first passes, most first)\n");
    qint64 running = 0;
    for (const ParetoRow& p : *pareto) {
        running += p.count;
        out += QStringLiteral("  %1  %2  %3  cumulative %4  %5\n")
                   .arg(Code(p.status), QString::number(p.count), Percent(p.count, total),
                        Percent(running, total), StatusReasonText(p.status));
    }
    return out;
}

QString HistoryText(const std::vector<DriveRecord>& runs) {
    QString out;
    for (const DriveRecord& r : runs) {
        QStringList fields = {Visible(r.StartedUtc), Visible(r.StationId), Visible(r.RunId),
                              QStringLiteral("slot ") + QString::number(r.Slot)};
        const auto named = [&fields](const char* name, const QString& text) {
            if (!text.isEmpty()) {
                fields << QLatin1String(name) + u' ' + Visible(text);
            }
        };
        named("socket", r.Socket);
        fields << QStringLiteral("port ") + Visible(r.PortPath);
        named("operator", r.Operator);
        named("lot", r.Lot);
        QStringList items;
        for (size_t i = 0; i < r.Items.size(); ++i) {
            if (r.Items[i]) {
                items << QString::fromLatin1(kItemColumnNames[i]);
            }
        }
        fields << (items.isEmpty() ? QStringLiteral("-") : items.join(u','));
        fields << (r.Passed ? QStringLiteral("PASS")
                            : QStringLiteral("FAIL status ") + Code(r.Status) +
                                  QStringLiteral(": ") + StatusReasonText(r.Status));
        out += fields.join(QStringLiteral("  ")) + u'\n';
    }
    return out;
}

} // namespace ufd
