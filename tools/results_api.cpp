#include "results_api.h"

#include "results/socket_map.h"
#include "results/status_reasons.h"
#include "results/time_option.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace ufd {

namespace {

constexpr int kDefaultRuns = 50;
constexpr qsizetype kMaxText = 200;

ApiReply Json(const QJsonObject& o, int status = 200) {
    return {status, QJsonDocument(o).toJson(QJsonDocument::Compact)};
}

ApiReply Bad(const QString& reason) {
    return Json({{QStringLiteral("error"), reason}}, 400);
}

ApiReply Unavailable(const QString& reason) {
    return Json({{QStringLiteral("error"), reason}}, 503);
}

QString Code(int status) {
    return QStringLiteral("%1").arg(status, 2, 16, QLatin1Char('0')).toUpper();
}

// The parameters of one request, each checked against the ones its path takes.
class Params {
public:
    Params(const QUrlQuery& query, QSet<QString> allowed) {
        QSet<QString> seen;
        for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
            if (!allowed.contains(key)) {
                error = QStringLiteral("unknown parameter \"%1\"").arg(key.left(kMaxText));
            } else if (seen.contains(key)) {
                error = QStringLiteral("parameter \"%1\" given twice").arg(key);
            } else if (value.size() > kMaxText) {
                error = QStringLiteral("parameter \"%1\" longer than %2 characters")
                            .arg(key, QString::number(kMaxText));
            }
            seen.insert(key);
            values_.insert(key, value);
        }
    }
    QString Get(const QString& key) const { return values_.value(key); }
    bool Has(const QString& key) const { return values_.contains(key); }

    QString error;

private:
    QHash<QString, QString> values_;
};

// since, station, product and utc, common to the figures and the runs.
std::optional<RecordFilter> Filter(const Params& p, QString* error) {
    RecordFilter f{p.Get(QStringLiteral("since")), p.Get(QStringLiteral("station")),
                   p.Get(QStringLiteral("product"))};
    if (!f.since.isEmpty()) {
        const std::optional<QString> since = ParseTimeOption(f.since);
        if (!since) {
            *error = QStringLiteral("since: not a date (2026-12-07) or time (2026-12-07T08:00, "
                                    "2026-12-07T08:00+05:00)");
            return std::nullopt;
        }
        f.since = *since;
    }
    const QString utc = p.Get(QStringLiteral("utc"));
    if (p.Has(QStringLiteral("utc")) && utc != QStringLiteral("0") && utc != QStringLiteral("1")) {
        *error = QStringLiteral("utc: 0 or 1");
        return std::nullopt;
    }
    f.utc = utc == QStringLiteral("1");
    return f;
}

QJsonObject WithReason(QJsonObject o) {
    const int status = o.value(QStringLiteral("status")).toInt();
    o.insert(QStringLiteral("code"), Code(status));
    o.insert(QStringLiteral("reason"), StatusReasonText(status));
    return o;
}

ApiReply YieldApi(YieldQueries& queries, YieldIndex* index, const Params& p,
                  const RecordFilter& f) {
    const QString name = p.Has(QStringLiteral("by")) ? p.Get(QStringLiteral("by")) : "day";
    const std::optional<YieldBy> by = YieldByFromName(name);
    if (!by) {
        return Bad(QStringLiteral("by: one of product, station, socket, hour, day, lot, operator"));
    }
    QString error;
    Figures& figures = index ? static_cast<Figures&>(*index) : queries;
    const auto rows = figures.Yield(*by, f, &error);
    if (!rows) {
        return error.startsWith(QStringLiteral("the records hold no")) ? Bad(error)
                                                                       : Unavailable(error);
    }
    QJsonArray out;
    const std::vector<SocketRate> sockets =
        *by == YieldBy::Socket ? SocketMap(*rows) : std::vector<SocketRate>{};
    for (size_t i = 0; i < rows->size(); ++i) {
        const YieldRow& r = (*rows)[i];
        QJsonObject o{{QStringLiteral("key"), r.key},
                      {QStringLiteral("units"), r.units},
                      {QStringLiteral("firstPass"), r.firstPass},
                      {QStringLiteral("finalPass"), r.finalPass}};
        if (*by == YieldBy::Socket) {
            const SocketRate& s = sockets[i];
            o.insert(QStringLiteral("station"), r.station);
            o.insert(QStringLiteral("failureRate"), s.failureRate);
            o.insert(QStringLiteral("stationRate"), s.stationRate);
            o.insert(QStringLiteral("othersRate"), s.othersRate);
            o.insert(QStringLiteral("suspect"), s.suspect);
        }
        out.append(o);
    }
    return Json({{QStringLiteral("by"), YieldByName(*by)},
                 {QStringLiteral("utc"), f.utc},
                 {QStringLiteral("rows"), out}});
}

ApiReply ParetoApi(YieldQueries& queries, YieldIndex* index, const RecordFilter& f) {
    QString error;
    Figures& figures = index ? static_cast<Figures&>(*index) : queries;
    const auto rows = figures.Pareto(f, &error);
    if (!rows) {
        return Unavailable(error);
    }
    qint64 total = 0;
    for (const ParetoRow& r : *rows) {
        total += r.count;
    }
    QJsonArray out;
    qint64 running = 0;
    for (const ParetoRow& r : *rows) {
        running += r.count;
        out.append(WithReason(
            {{QStringLiteral("status"), r.status},
             {QStringLiteral("count"), r.count},
             {QStringLiteral("percent"), 100.0 * double(r.count) / double(total)},
             {QStringLiteral("cumulativePercent"), 100.0 * double(running) / double(total)}}));
    }
    return Json({{QStringLiteral("total"), total}, {QStringLiteral("rows"), out}});
}

ApiReply Records(const std::optional<std::vector<DriveRecord>>& records, const QString& error,
                 QJsonObject head) {
    if (!records) {
        return Unavailable(error);
    }
    QJsonArray out;
    for (const DriveRecord& r : *records) {
        out.append(WithReason(ToJson(r)));
    }
    head.insert(QStringLiteral("runs"), out);
    return Json(head);
}

} // namespace

std::optional<ApiReply> AnswerApi(YieldQueries& queries, const QString& path,
                                  const QUrlQuery& query, YieldIndex* index) {
    const QSet<QString> filters{QStringLiteral("since"), QStringLiteral("station"),
                                QStringLiteral("product")};
    QSet<QString> allowed;
    if (path == QStringLiteral("/api/yield")) {
        allowed = filters + QSet<QString>{QStringLiteral("by"), QStringLiteral("utc")};
    } else if (path == QStringLiteral("/api/pareto")) {
        allowed = filters;
    } else if (path == QStringLiteral("/api/runs")) {
        allowed = filters + QSet<QString>{QStringLiteral("limit")};
    } else if (path == QStringLiteral("/api/drives")) {
        allowed = {QStringLiteral("serial")};
    } else {
        return std::nullopt;
    }
    const Params p(query, allowed);
    if (!p.error.isEmpty()) {
        return Bad(p.error);
    }
    QString error;
    const std::optional<RecordFilter> f = Filter(p, &error);
    if (!f) {
        return Bad(error);
    }
    if (path == QStringLiteral("/api/yield")) {
        return YieldApi(queries, index, p, *f);
    }
    if (path == QStringLiteral("/api/pareto")) {
        return ParetoApi(queries, index, *f);
    }
    if (path == QStringLiteral("/api/runs")) {
        bool ok = !p.Has(QStringLiteral("limit"));
        int limit = kDefaultRuns;
        if (!ok) {
            limit = p.Get(QStringLiteral("limit")).toInt(&ok);
        }
        if (!ok || limit < 1 || limit > RecordReader::kMaxRuns) {
            return Bad(QStringLiteral("limit: a number from 1 to %1").arg(RecordReader::kMaxRuns));
        }
        const auto runs = queries.Reader().Newest(*f, limit, &error);
        return Records(runs, error, {});
    }
    const QString serial = p.Get(QStringLiteral("serial"));
    if (serial.isEmpty()) {
        return Bad(QStringLiteral("serial: the drive's serial is missing"));
    }
    const auto runs = queries.Reader().Drive(serial, &error);
    return Records(runs, error, {{QStringLiteral("serial"), serial}});
}

} // namespace ufd
