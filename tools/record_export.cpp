#include "record_export.h"

#include "results/status_reasons.h"

#include <QJsonDocument>
#include <QStringList>

#include <algorithm>

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

// The exports carry the reason in words right after the code; it is not
// stored, so a record of any age reads with today's words.
const QString kReasonColumn = QStringLiteral("reason");

qsizetype ReasonAt() {
    const std::vector<Column>& columns = RecordColumns();
    const auto status = std::ranges::find(columns, QStringLiteral("status"), &Column::name);
    return std::distance(columns.begin(), status) + 1;
}

QString Reason(const DriveRecord& r) {
    return r.Passed ? QString() : StatusReasonText(r.Status);
}

} // namespace

QByteArray ToCsv(const std::vector<DriveRecord>& records) {
    QByteArrayList header;
    for (const Column& c : RecordColumns()) {
        header << c.name.toUtf8();
    }
    header.insert(ReasonAt(), kReasonColumn.toUtf8());
    QByteArray out = header.join(',') + "\r\n";
    for (const DriveRecord& r : records) {
        QByteArrayList fields;
        const QVariantList values = ToValues(r);
        for (qsizetype i = 0; i < values.size(); ++i) {
            fields << CsvField(values[i], RecordColumns()[static_cast<size_t>(i)].type);
        }
        fields.insert(ReasonAt(), CsvField(Reason(r), ColumnType::Text));
        out += fields.join(',') + "\r\n";
    }
    return out;
}

QByteArray ToJsonLines(const std::vector<DriveRecord>& records) {
    QByteArray out;
    for (const DriveRecord& r : records) {
        QJsonObject o = ToJson(r);
        o.insert(kReasonColumn, Reason(r));
        out += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    }
    return out;
}

} // namespace ufd
