#include "results/export.h"

#include <QJsonDocument>
#include <QStringList>

#include <functional>
#include <map>

namespace ufd {

namespace {

// A text cell a spreadsheet would take for a formula (=, +, -, @, or a tab
// or CR before one) gets a leading apostrophe, which spreadsheets show as
// text and do not display. Numbers are left alone: they are never formulas.
QByteArray CsvField(const QVariant& v, ColumnType type) {
    QByteArray text = v.isNull() ? QByteArray() : v.toString().toUtf8();
    if (type == ColumnType::Text && !text.isEmpty() &&
        QByteArrayView("=+-@\t\r").contains(text.front())) {
        text.prepend('\'');
    }
    if (!text.contains(',') && !text.contains('"') && !text.contains('\r') &&
        !text.contains('\n')) {
        return text;
    }
    text.replace('"', "\"\"");
    return '"' + text + '"';
}

struct Tally {
    int passed = 0;
    int total = 0;
};

QString Rates(const QString& title, const std::vector<DriveRecord>& records,
              const std::function<QString(const DriveRecord&)>& key) {
    std::map<QString, Tally> groups;
    for (const DriveRecord& r : records) {
        Tally& t = groups[key(r)];
        t.total += 1;
        t.passed += r.Passed ? 1 : 0;
    }
    QString out = title + QLatin1Char('\n');
    for (const auto& [name, t] : groups) {
        // One arg() for all: a name holding "%2" stays as it is.
        out +=
            QStringLiteral("  %1  %2/%3 passed  %4%\n")
                .arg(name.isEmpty() ? QStringLiteral("(unknown)") : name, QString::number(t.passed),
                     QString::number(t.total), QString::number(100.0 * t.passed / t.total, 'f', 1));
    }
    return out;
}

} // namespace

QByteArray ToCsv(const std::vector<DriveRecord>& records) {
    QByteArrayList header;
    for (const Column& c : RecordColumns()) {
        header << c.name.toUtf8();
    }
    QByteArray out = header.join(',') + "\r\n";
    for (const DriveRecord& r : records) {
        QByteArrayList fields;
        const QVariantList values = ToValues(r);
        for (qsizetype i = 0; i < values.size(); ++i) {
            fields << CsvField(values[i], RecordColumns()[static_cast<size_t>(i)].type);
        }
        out += fields.join(',') + "\r\n";
    }
    return out;
}

QByteArray ToJsonLines(const std::vector<DriveRecord>& records) {
    QByteArray out;
    for (const DriveRecord& r : records) {
        out += QJsonDocument(ToJson(r)).toJson(QJsonDocument::Compact) + '\n';
    }
    return out;
}

QString YieldReport(const std::vector<DriveRecord>& records) {
    QString out;
    out += Rates(QStringLiteral("Per slot"), records,
                 [](const DriveRecord& r) { return QStringLiteral("slot %1").arg(r.Slot, 2); });
    out +=
        Rates(QStringLiteral("Per port"), records, [](const DriveRecord& r) { return r.PortPath; });
    out += Rates(QStringLiteral("Per station"), records,
                 [](const DriveRecord& r) { return r.StationId; });
    out += Rates(QStringLiteral("Per day"), records,
                 [](const DriveRecord& r) { return r.StartedUtc.left(10); });
    std::map<int, int> codes;
    for (const DriveRecord& r : records) {
        if (!r.Passed) {
            codes[r.Status] += 1;
        }
    }
    out += QStringLiteral("Failures per code\n");
    for (const auto& [code, count] : codes) {
        out += QStringLiteral("  %1  %2\n")
                   .arg(QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper(),
                        QString::number(count));
    }
    return out;
}

} // namespace ufd
