#include "results/yield_query.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimeZone>

#include <array>
#include <utility>

namespace ufd {

namespace {

// The group's key of a unit's first pass, from the columns of "x".
Statement KeyExpression(const RecordReader& db, YieldBy by, bool utc) {
    const bool sqlite = db.Sqlite();
    const QString zone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    // Local hours and days: SQLite asks the C library (which follows TZ);
    // the server is told this machine's zone, since its own may differ.
    const auto local = [&](const char* sqliteFormat, const char* pgFormat) -> Statement {
        if (sqlite) {
            return {QStringLiteral("strftime('%1', x.started, 'localtime')")
                        .arg(QLatin1String(sqliteFormat)),
                    {}};
        }
        return {QStringLiteral("to_char(x.started::timestamptz AT TIME ZONE ?, '%1')")
                    .arg(QLatin1String(pgFormat)),
                {zone.isEmpty() ? QStringLiteral("UTC") : zone}};
    };
    switch (by) {
    case YieldBy::Product:
        return {QStringLiteral("x.vid || ':' || x.pid || ' ' || x.usb_product"), {}};
    case YieldBy::Station:
        return {QStringLiteral("x.station_id"), {}};
    case YieldBy::Socket:
        return {db.HasColumn(QStringLiteral("socket"))
                    ? QStringLiteral("COALESCE(NULLIF(x.socket, ''), x.port_path)")
                    : QStringLiteral("x.port_path"),
                {}};
    case YieldBy::Hour:
        return utc ? Statement{QStringLiteral("substr(x.started, 1, 10) || ' ' || "
                                              "substr(x.started, 12, 2) || ':00'"),
                               {}}
                   : local("%Y-%m-%d %H:00", "YYYY-MM-DD HH24:00");
    case YieldBy::Day:
        return utc ? Statement{QStringLiteral("substr(x.started, 1, 10)"), {}}
                   : local("%Y-%m-%d", "YYYY-MM-DD");
    case YieldBy::Lot:
        return {QStringLiteral("x.lot"), {}};
    case YieldBy::Operator:
        return {QStringLiteral("x.operator"), {}};
    }
    return {};
}

const char* ColumnOf(YieldBy by) {
    return by == YieldBy::Lot ? "lot" : by == YieldBy::Operator ? "operator" : nullptr;
}

// The Pareto counts root causes: the first item's failure where the records
// keep it, else the status the drive ended with (an older station's records).
QString RootCause(const RecordReader& db) {
    return db.HasColumn(QStringLiteral("first_status"))
               ? QStringLiteral("COALESCE(first_status, status) AS status")
               : QStringLiteral("status");
}

// The columns a grouping reads, beside passed (and the root cause for the
// Pareto).
QStringList ColumnsFor(const RecordReader& db, std::optional<YieldBy> by) {
    if (!by) {
        return {RootCause(db)};
    }
    switch (*by) {
    case YieldBy::Product:
        return {QStringLiteral("vid"), QStringLiteral("pid"), QStringLiteral("usb_product")};
    case YieldBy::Station:
        return {QStringLiteral("station_id")};
    case YieldBy::Socket:
        return db.HasColumn(QStringLiteral("socket"))
                   ? QStringList{QStringLiteral("station_id"), QStringLiteral("port_path"),
                                 QStringLiteral("socket")}
                   : QStringList{QStringLiteral("station_id"), QStringLiteral("port_path")};
    case YieldBy::Hour:
    case YieldBy::Day:
        return {QStringLiteral("started_utc AS started")};
    case YieldBy::Lot:
        return {QStringLiteral("lot")};
    case YieldBy::Operator:
        return {QStringLiteral("operator")};
    }
    return {};
}

// Units' first passes as the WITH clause "f": the columns a grouping reads,
// passed of the first run with Format and, for the figures, final_passed of
// the last one. One sort of the filtered Format runs serves both; it carries
// no column it does not need, since its size is the query's cost.
Statement Units(const RecordReader& db, const RecordFilter& filter, std::optional<YieldBy> by) {
    const QString unit =
        QStringLiteral("CASE WHEN serial <> '' THEN serial ELSE run_id || '/' || slot END");
    const QString final = by ? QStringLiteral(", LAST_VALUE(passed) OVER (w ROWS BETWEEN "
                                              "UNBOUNDED PRECEDING AND UNBOUNDED FOLLOWING) AS "
                                              "final_passed")
                             : QString();
    Statement where = WhereClause(filter);
    where.sql += where.sql.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ");
    return {QStringLiteral("WITH f AS (SELECT * FROM (SELECT passed, ") +
                ColumnsFor(db, by).join(QStringLiteral(", ")) +
                QStringLiteral(", ROW_NUMBER() OVER w AS n") + final +
                QStringLiteral(" FROM drive_records") + where.sql +
                QStringLiteral("format_status IS NOT NULL WINDOW w AS (PARTITION BY ") + unit +
                QStringLiteral(" ORDER BY started_utc, run_id, slot)) AS x WHERE n = 1) "),
            where.binds};
}

std::optional<QSqlQuery> Run(RecordReader& db, const Statement& s, QString* error) {
    if (!db.OpenTable(error)) {
        return std::nullopt;
    }
    QSqlQuery q(db.Database());
    q.setForwardOnly(true);
    if (!q.prepare(s.sql)) {
        *error = SqlErrorText(q.lastError());
        return std::nullopt;
    }
    for (qsizetype i = 0; i < s.binds.size(); ++i) {
        q.bindValue(static_cast<int>(i), s.binds[i]);
    }
    if (!q.exec()) {
        *error = SqlErrorText(q.lastError());
        return std::nullopt;
    }
    return q;
}

} // namespace

std::optional<std::vector<YieldRow>> YieldQueries::Yield(YieldBy by, const RecordFilter& filter,
                                                         QString* error) {
    if (!db_.OpenTable(error)) {
        return std::nullopt;
    }
    if (const char* column = ColumnOf(by); column != nullptr && !db_.HasColumn(column)) {
        *error = QStringLiteral("the records hold no %1 (a database of an older station)")
                     .arg(QLatin1String(column));
        return std::nullopt;
    }
    const Statement units = Units(db_, filter, by);
    const Statement key = KeyExpression(db_, by, filter.utc);
    const QString station =
        by == YieldBy::Socket ? QStringLiteral("x.station_id") : QStringLiteral("''");
    Statement s{units.sql +
                    QStringLiteral("SELECT k, st, COUNT(*), SUM(passed), "
                                   "SUM(final_passed) FROM (SELECT ") +
                    key.sql + QStringLiteral(" AS k, ") + station +
                    QStringLiteral(" AS st, x.passed, x.final_passed FROM f AS x) AS g GROUP BY "
                                   "k, st ORDER BY k, st LIMIT %1")
                        .arg(kMaxGroups),
                units.binds + key.binds};
    auto q = Run(db_, s, error);
    if (!q) {
        return std::nullopt;
    }
    std::vector<YieldRow> out;
    while (q->next()) {
        out.push_back({q->value(0).toString(), q->value(1).toString(), q->value(2).toLongLong(),
                       q->value(3).toLongLong(), q->value(4).toLongLong()});
    }
    return out;
}

std::optional<std::vector<ParetoRow>> YieldQueries::Pareto(const RecordFilter& filter,
                                                           QString* error) {
    if (!db_.OpenTable(error)) {
        return std::nullopt;
    }
    const Statement units = Units(db_, filter, std::nullopt);
    const Statement s{units.sql + QStringLiteral("SELECT status, COUNT(*) AS c FROM f WHERE "
                                                 "passed = 0 GROUP BY status ORDER BY c DESC, "
                                                 "status LIMIT %1")
                                      .arg(kMaxCodes),
                      units.binds};
    auto q = Run(db_, s, error);
    if (!q) {
        return std::nullopt;
    }
    std::vector<ParetoRow> out;
    while (q->next()) {
        out.push_back({q->value(0).toInt(), q->value(1).toLongLong()});
    }
    return out;
}

YieldQueries::YieldQueries(RecordReader& reader)
    : db_(reader),
      stampSince_(QDateTime::currentDateTimeUtc().addDays(-1).toString(Qt::ISODateWithMs)) {}

std::optional<QString> YieldQueries::ChangeStamp(QString* error) {
    auto q = Run(db_,
                 {QStringLiteral("SELECT MAX(started_utc), COUNT(*) FROM drive_records WHERE "
                                 "started_utc >= ?"),
                  {stampSince_}},
                 error);
    if (!q || !q->next()) {
        return std::nullopt;
    }
    return q->value(0).toString() + u' ' + q->value(1).toString();
}

} // namespace ufd
