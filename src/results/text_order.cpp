#include "results/text_order.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <limits>

namespace ufd {

std::optional<std::vector<int>> TextRanks(RecordReader& db, const std::vector<QString>& texts,
                                          QString* error) {
    std::vector<quint32> order;
    if (db.Sqlite()) {
        std::vector<QByteArray> bytes;
        bytes.reserve(texts.size());
        for (const QString& t : texts) {
            bytes.push_back(t.toUtf8());
        }
        for (quint32 id = 1; id < texts.size(); ++id) {
            order.push_back(id);
        }
        std::sort(order.begin(), order.end(),
                  [&](quint32 a, quint32 b) { return bytes[a] < bytes[b]; });
    } else {
        QHash<QString, quint32> ids;
        QString array = QStringLiteral("{");
        for (quint32 id = 1; id < texts.size(); ++id) {
            ids.insert(texts[id], id);
            QString t = texts[id];
            t.replace(u'\\', QLatin1String("\\\\")).replace(u'"', QLatin1String("\\\""));
            array += (id > 1 ? QStringLiteral(",\"") : QStringLiteral("\"")) + t + u'"';
        }
        array += u'}';
        QSqlQuery q(db.Database());
        q.setForwardOnly(true);
        if (!q.prepare(QStringLiteral("SELECT k FROM unnest(CAST(? AS text[])) AS k ORDER BY k"))) {
            *error = SqlErrorText(q.lastError());
            return std::nullopt;
        }
        q.addBindValue(array);
        if (!q.exec()) {
            *error = SqlErrorText(q.lastError());
            return std::nullopt;
        }
        while (q.next()) {
            order.push_back(ids.value(q.value(0).toString()));
        }
    }
    std::vector<int> ranks(texts.size(), 0);
    for (size_t i = 0; i < order.size(); ++i) {
        ranks[order[i]] = static_cast<int>(i) + 1;
    }
    ranks[0] = db.Sqlite() ? 0 : std::numeric_limits<int>::max();
    return ranks;
}

} // namespace ufd
