#include "results/record_filter.h"

#include <QStringList>

namespace ufd {

Statement WhereClause(const RecordFilter& filter) {
    QStringList terms;
    Statement s;
    if (!filter.since.isEmpty()) {
        terms << QStringLiteral("started_utc >= ?");
        s.binds << filter.since;
    }
    if (!filter.station.isEmpty()) {
        terms << QStringLiteral("station_id = ?");
        s.binds << filter.station;
    }
    if (!filter.product.isEmpty()) {
        terms << QStringLiteral("(vid || ':' || pid = ? OR usb_product = ?)");
        s.binds << filter.product << filter.product;
    }
    if (!terms.isEmpty()) {
        s.sql = QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
    }
    return s;
}

} // namespace ufd
