#include "results/record_time.h"

#include <ctime>

namespace ufd {

namespace {

qint64 DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

} // namespace

std::optional<qint64> StartMs(const QString& s, int* year) {
    if (s.size() != 24 || s[4] != u'-' || s[7] != u'-' || s[10] != u'T' || s[13] != u':' ||
        s[16] != u':' || s[19] != u'.' || s[23] != u'Z') {
        return std::nullopt;
    }
    const auto number = [&](int at, int digits) {
        int v = 0;
        for (int i = at; i < at + digits; ++i) {
            if (s[i] < u'0' || s[i] > u'9') {
                return -1;
            }
            v = v * 10 + (s[i].unicode() - u'0');
        }
        return v;
    };
    const int y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2),
              mi = number(14, 2), sec = number(17, 2), ms = number(20, 3);
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || h < 0 || h > 23 || mi < 0 ||
        mi > 59 || sec < 0 || sec > 59 || ms < 0) {
        return std::nullopt;
    }
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo == 2 && d == 29 && !leap) {
        return std::nullopt;
    }
    if (year != nullptr) {
        *year = y;
    }
    return ((DaysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000 + sec * 1000 + ms;
}

qint64 TimeKey(qint64 ms, bool utc, bool hour) {
    const time_t t = static_cast<time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    tm parts{};
    if (utc) {
        ::gmtime_r(&t, &parts);
    } else {
        ::localtime_r(&t, &parts);
    }
    const qint64 day = (parts.tm_year + 1900) * 10000LL + (parts.tm_mon + 1) * 100 + parts.tm_mday;
    return hour ? day * 100 + parts.tm_hour : day;
}

QString TimeKeyText(qint64 key, bool hour) {
    const qint64 day = hour ? key / 100 : key;
    QString text = QStringLiteral("%1-%2-%3")
                       .arg(day / 10000, 4, 10, QLatin1Char('0'))
                       .arg(day / 100 % 100, 2, 10, QLatin1Char('0'))
                       .arg(day % 100, 2, 10, QLatin1Char('0'));
    if (hour) {
        text += QStringLiteral(" %1:00").arg(key % 100, 2, 10, QLatin1Char('0'));
    }
    return text;
}

} // namespace ufd
