#include "results/time_option.h"

#include <QDateTime>
#include <QRegularExpression>

namespace ufd {

std::optional<QString> ParseTimeOption(const QString& text) {
    // Qt's own ISO reader takes "2026-12-07T25:99" for a date with a tail,
    // so the shape is checked here and the values by QDate and QTime.
    static const QRegularExpression shape(QStringLiteral(
        R"(^(\d{4}-\d{2}-\d{2})(?:T(\d{2}:\d{2}(?::\d{2}(?:\.\d{1,3})?)?)(Z|[+-]\d{2}:\d{2})?)?$)"));
    const QRegularExpressionMatch m = shape.match(text.trimmed());
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    const QDate date = QDate::fromString(m.captured(1), Qt::ISODate);
    const QString clock = m.captured(2);
    const QTime time = clock.isEmpty() ? QTime(0, 0) : QTime::fromString(clock, Qt::ISODateWithMs);
    if (!date.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    int offset = 0;
    const QString zone = m.captured(3);
    if (zone.size() == 6) {
        const int hours = zone.mid(1, 2).toInt();
        const int minutes = zone.mid(4, 2).toInt();
        if (hours > 14 || minutes > 59) {
            return std::nullopt;
        }
        offset = (zone[0] == QLatin1Char('-') ? -1 : 1) * (hours * 3600 + minutes * 60);
    }
    const QDateTime at(date, time, Qt::OffsetFromUTC, offset);
    return at.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace ufd
