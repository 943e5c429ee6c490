// Which records a reader is asked for: the one filter of list, export,
// yield, history and the page, and its SQL WHERE clause.
#pragma once

#include <QString>
#include <QVariantList>

namespace ufd {

struct RecordFilter {
    QString since;    // started at or after this time, as ParseTimeOption gives it
    QString station;  // station id
    QString product;  // "VID:PID" or the USB product string
    bool utc = false; // the figures' hours and days in UTC instead of local time
};

// A parameterised statement: its text and the values of its "?" marks.
struct Statement {
    QString sql;
    QVariantList binds;
};

// " WHERE ..." for filter's since, station and product; empty when it has none.
Statement WhereClause(const RecordFilter& filter);

} // namespace ufd
