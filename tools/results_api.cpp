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
    return ApiFailure(ApiError::BadRequest, reason);
}

ApiReply Unavailable(const QString& reason) {
    return ApiFailure(ApiError::Unavailable, reason);
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

// The columns a grouping needs that an older station's records lack.
const char* ColumnOf(YieldBy by) {
    return by == YieldBy::Lot ? "lot" : by == YieldBy::Operator ? "operator" : nullptr;
}

ApiReply YieldApi(YieldQueries& queries, YieldIndex* index, const ApiCall& call) {
    const YieldBy by = call.by;
    const RecordFilter& f = call.filter;
    QString error;
    Figures& figures = index ? static_cast<Figures&>(*index) : queries;
    const auto rows = figures.Yield(by, f, &error);
    if (!rows) {
        return Unavailable(error);
    }
    QJsonArray out;
    const std::vector<SocketRate> sockets =
        by == YieldBy::Socket ? SocketMap(*rows) : std::vector<SocketRate>{};
    for (size_t i = 0; i < rows->size(); ++i) {
        const YieldRow& r = (*rows)[i];
        QJsonObject o{{QStringLiteral("key"), r.key},
                      {QStringLiteral("units"), r.units},
                      {QStringLiteral("firstPass"), r.firstPass},
                      {QStringLiteral("finalPass"), r.finalPass}};
        if (by == YieldBy::Socket) {
            const SocketRate& s = sockets[i];
            o.insert(QStringLiteral("station"), r.station);
            o.insert(QStringLiteral("failureRate"), s.failureRate);
            o.insert(QStringLiteral("stationRate"), s.stationRate);
            o.insert(QStringLiteral("othersRate"), s.othersRate);
            o.insert(QStringLiteral("suspect"), s.suspect);
        }
        out.append(o);
    }
    return Json({{QStringLiteral("by"), YieldByName(by)},
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

ApiReply ApiFailure(ApiError error, const QString& reason) {
    return Json({{QStringLiteral("error"), reason}}, error == ApiError::BadRequest ? 400 : 503);
}

std::optional<ApiCall> ParseApiCall(ApiRoute route, const QUrlQuery& query, ApiReply* refusal) {
    const QSet<QString> filters{QStringLiteral("since"), QStringLiteral("station"),
                                QStringLiteral("product")};
    const QSet<QString> allowed =
        route == ApiRoute::Yield
            ? filters + QSet<QString>{QStringLiteral("by"), QStringLiteral("utc")}
        : route == ApiRoute::Pareto ? filters
        : route == ApiRoute::Runs   ? filters + QSet<QString>{QStringLiteral("limit")}
                                    : QSet<QString>{QStringLiteral("serial")};
    const Params p(query, allowed);
    if (!p.error.isEmpty()) {
        *refusal = Bad(p.error);
        return std::nullopt;
    }
    QString error;
    const std::optional<RecordFilter> f = Filter(p, &error);
    if (!f) {
        *refusal = Bad(error);
        return std::nullopt;
    }
    ApiCall call{route, *f, YieldBy::Day, kDefaultRuns, {}};
    if (route == ApiRoute::Yield && p.Has(QStringLiteral("by"))) {
        const std::optional<YieldBy> by = YieldByFromName(p.Get(QStringLiteral("by")));
        if (!by) {
            *refusal = Bad(
                QStringLiteral("by: one of product, station, socket, hour, day, lot, operator"));
            return std::nullopt;
        }
        call.by = *by;
    }
    if (route == ApiRoute::Runs && p.Has(QStringLiteral("limit"))) {
        bool ok = false;
        call.limit = p.Get(QStringLiteral("limit")).toInt(&ok);
        if (!ok || call.limit < 1 || call.limit > RecordReader::kMaxRuns) {
            *refusal =
                Bad(QStringLiteral("limit: a number from 1 to %1").arg(RecordReader::kMaxRuns));
            return std::nullopt;
        }
    }
    if (route == ApiRoute::Drives) {
        call.serial = p.Get(QStringLiteral("serial"));
        if (call.serial.isEmpty()) {
            *refusal = Bad(QStringLiteral("serial: the drive's serial is missing"));
            return std::nullopt;
        }
    }
    return call;
}

std::optional<ApiReply> RefuseForColumns(RecordReader& db, const ApiCall& call) {
    const char* column = call.route == ApiRoute::Yield ? ColumnOf(call.by) : nullptr;
    if (column == nullptr) {
        return std::nullopt;
    }
    QString error;
    if (!db.OpenTable(&error)) {
        return Unavailable(error);
    }
    if (!db.HasColumn(QLatin1String(column))) {
        return Bad(QStringLiteral("the records hold no %1 (a database of an older station)")
                       .arg(QLatin1String(column)));
    }
    return std::nullopt;
}

ApiReply RunApiCall(RecordReader& db, YieldQueries& queries, const ApiCall& call,
                    YieldIndex* index) {
    if (std::optional<ApiReply> refusal = RefuseForColumns(db, call)) {
        return *refusal;
    }
    QString error;
    switch (call.route) {
    case ApiRoute::Yield:
        return YieldApi(queries, index, call);
    case ApiRoute::Pareto:
        return ParetoApi(queries, index, call.filter);
    case ApiRoute::Runs:
        return Records(queries.Reader().Newest(call.filter, call.limit, &error), error, {});
    case ApiRoute::Drives:
        return Records(queries.Reader().Drive(call.serial, &error), error,
                       {{QStringLiteral("serial"), call.serial}});
    }
    return Unavailable(QStringLiteral("unknown request"));
}

} // namespace ufd
