#include "station/batch_json.h"

#include "results/status_reasons.h"
#include "station/batch.h"
#include "station/run_recorder.h"
#include "station/test_frm.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace ufd {

namespace {

QJsonValue TextOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonObject Drive(const TestFrm& frm, const DriveRecord& r) {
    QJsonObject d{
        {QStringLiteral("slot"), r.Slot},
        {QStringLiteral("row"), BatchRowCaption(frm, r.Slot - 1)},
        {QStringLiteral("index"), r.DriveIndex ? QJsonValue(*r.DriveIndex) : QJsonValue()},
        {QStringLiteral("port"), TextOrNull(r.PortPath)},
        {QStringLiteral("serial"), TextOrNull(r.Serial)},
        {QStringLiteral("status"), r.Status},
        {QStringLiteral("reason"), StatusReasonText(r.Status)},
        {QStringLiteral("passed"), r.Passed},
    };
    for (int item = 0; item < kRecordedItems; ++item) {
        const auto& result = r.Items[static_cast<size_t>(item)];
        d.insert(QLatin1String(kItemColumnNames[static_cast<size_t>(item)]),
                 result ? QJsonObject{{QStringLiteral("upper"), result->Upper},
                                      {QStringLiteral("lower"), result->Lower},
                                      {QStringLiteral("status"), result->Status},
                                      {QStringLiteral("ms"), result->DurationMs}}
                        : QJsonValue());
    }
    return d;
}

} // namespace

QByteArray BatchJson(const TestFrm* frm, const RunRecorder* recorder, int exitCode,
                     const QString& message) {
    QJsonObject o;
    const bool ran = frm != nullptr && recorder != nullptr;
    o.insert(QStringLiteral("run_id"), ran ? QJsonValue(recorder->RunId()) : QJsonValue());
    o.insert(QStringLiteral("verdict"), frm != nullptr && IsShown(frm->PassLab)
                                            ? QJsonValue(frm->PassLab->text())
                                            : QJsonValue());
    o.insert(QStringLiteral("exit_code"), exitCode);
    if (!message.isEmpty()) {
        o.insert(QStringLiteral("message"), message);
    }
    if (recorder != nullptr) {
        o.insert(QStringLiteral("operator"), recorder->Operator());
        o.insert(QStringLiteral("lot"), recorder->Lot());
    }
    QJsonArray drives;
    if (ran) {
        for (const DriveRecord& r : recorder->LastRun()) {
            drives.append(Drive(*frm, r));
        }
    }
    o.insert(QStringLiteral("drives"), drives);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

} // namespace ufd
