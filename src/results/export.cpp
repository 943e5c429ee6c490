#include "results/export.h"

#include <QJsonDocument>
#include <QStringList>

namespace ufd {

namespace {

QByteArray CsvField(const QVariant& v) {
    const QByteArray text = v.isNull() ? QByteArray() : v.toString().toUtf8();
    if (!text.contains(',') && !text.contains('"') && !text.contains('\r') &&
        !text.contains('\n')) {
        return text;
    }
    QByteArray quoted = text;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
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
        for (const QVariant& v : ToValues(r)) {
            fields << CsvField(v);
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

} // namespace ufd
