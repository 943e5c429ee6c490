#include "results/record_reader.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

namespace ufd {

RecordReader::RecordReader(DatabaseTarget target)
    : connection_(std::move(target), SqlConnection::Access::ReadOnly) {}

bool RecordReader::Open(QString* error) {
    if (open_ && connection_.IsOpen()) {
        return true;
    }
    open_ = false;
    columns_.clear();
    if (!connection_.Connect(error)) {
        return false;
    }
    // SQLite opens any file and says it is no database only when asked: a
    // file restored over the records with something else in it must not
    // read as an empty table.
    if (connection_.Sqlite()) {
        QString refused;
        {
            QSqlQuery probe(Database());
            if (!probe.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master"))) {
                refused = SqlErrorText(probe.lastError());
            }
        }
        if (!refused.isEmpty()) {
            *error = refused;
            connection_.Drop(); // opened afresh next time: the file may be replaced again
            return false;
        }
    }
    const QSqlRecord table = Database().record(QStringLiteral("drive_records"));
    for (int i = 0; i < table.count(); ++i) {
        columns_ << table.fieldName(i);
    }
    open_ = true;
    return true;
}

bool RecordReader::OpenTable(QString* error) {
    if (!Open(error)) {
        return false;
    }
    if (!HasColumn(QStringLiteral("serial"))) {
        *error = QStringLiteral("no table drive_records (no run recorded yet)");
        // Looked at again next time: a station may create it meanwhile.
        open_ = false;
        return false;
    }
    return true;
}

std::optional<std::vector<DriveRecord>> RecordReader::Select(const Statement& rest,
                                                             QString* error) {
    if (!Open(error)) {
        return std::nullopt;
    }
    if (columns_.isEmpty()) {
        open_ = false; // no table yet: none of its records
        return std::vector<DriveRecord>{};
    }
    std::vector<DriveRecord> out;
    if (!Each(
            rest, false,
            [&](const DriveRecord& r) {
                out.push_back(r);
                return true;
            },
            error)) {
        return std::nullopt;
    }
    return out;
}

bool RecordReader::Each(const Statement& rest, bool figuresOnly,
                        const std::function<bool(const DriveRecord&)>& each, QString* error) {
    // Per column of RecordColumns(): its place in the SELECT, kAbsent (the
    // table has no such column yet: it reads as null) or kUnread.
    constexpr int kAbsent = -1, kUnread = -2;
    QStringList names;
    std::vector<int> present;
    for (const Column& c : RecordColumns()) {
        if (figuresOnly && !c.figures) {
            present.push_back(kUnread);
        } else if (HasColumn(c.name)) {
            present.push_back(static_cast<int>(names.size()));
            names << c.name;
        } else {
            present.push_back(kAbsent);
        }
    }
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) +
                   QStringLiteral(" FROM drive_records") + rest.sql)) {
        *error = SqlErrorText(q.lastError());
        return false;
    }
    for (qsizetype i = 0; i < rest.binds.size(); ++i) {
        q.bindValue(static_cast<int>(i), rest.binds[i]);
    }
    if (!q.exec()) {
        *error = SqlErrorText(q.lastError());
        // A dead server shows here first; connect afresh next time.
        open_ = false;
        return false;
    }
    while (q.next()) {
        DriveRecord r;
        for (size_t i = 0; i < present.size(); ++i) {
            if (present[i] != kUnread) {
                SetColumn(r, i, present[i] == kAbsent ? QVariant() : q.value(present[i]));
            }
        }
        if (!each(r)) {
            return true;
        }
    }
    // A connection lost part way through ends the rows early.
    if (q.lastError().isValid()) {
        *error = SqlErrorText(q.lastError());
        open_ = false;
        return false;
    }
    return true;
}

std::optional<std::vector<DriveRecord>> RecordReader::Records(const RecordFilter& filter,
                                                              QString* error) {
    Statement s = WhereClause(filter);
    s.sql += QStringLiteral(" ORDER BY started_utc, run_id, slot");
    return Select(s, error);
}

std::optional<std::vector<DriveRecord>> RecordReader::Newest(const RecordFilter& filter, int limit,
                                                             QString* error) {
    // The start-time index finds the limit-th newest start; only the records
    // from there on are sorted (a run's records share their start), so a
    // page polling every two seconds never sorts the whole table.
    const Statement where = WhereClause(filter);
    const QString also =
        where.sql.isEmpty() ? QStringLiteral(" WHERE ") : where.sql + QStringLiteral(" AND ");
    const int n = std::clamp(limit, 1, kMaxRuns);
    return Select(
        {also + QStringLiteral("started_utc >= COALESCE((SELECT started_utc FROM drive_records") +
             where.sql +
             QStringLiteral(" ORDER BY started_utc DESC LIMIT 1 OFFSET ?), '') ORDER BY "
                            "started_utc DESC, run_id DESC, slot DESC LIMIT ?"),
         where.binds + where.binds + QVariantList{n - 1, n}},
        error);
}

std::optional<std::vector<DriveRecord>> RecordReader::Drive(const QString& serial, QString* error) {
    return Select({QStringLiteral(" WHERE serial = ? ORDER BY started_utc, run_id, slot LIMIT ?"),
                   {serial, kMaxRuns}},
                  error);
}

} // namespace ufd
