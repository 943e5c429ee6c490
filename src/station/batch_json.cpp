#include "station/batch_json.h"

#include "results/status_reasons.h"
#include "station/batch.h"
#include "station/run_recorder.h"
#include "station/station_form.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace ufd {

namespace {

QJsonValue TextOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

template <typename T> QJsonValue OrNull(const std::optional<T>& v) {
    return v ? QJsonValue(static_cast<double>(*v)) : QJsonValue();
}

QJsonObject Drive(const TestFrm& frm, const DriveRecord& r) {
    const DriveState* state = frm.State().Drive(r.Slot - 1);
    QJsonObject d{
        {QStringLiteral("slot"), r.Slot},
        {QStringLiteral("row"), BatchRowCaption(frm, r.Slot - 1)},
        {QStringLiteral("socket"), TextOrNull(r.Socket)},
        {QStringLiteral("index"), r.DriveIndex ? QJsonValue(*r.DriveIndex) : QJsonValue()},
        {QStringLiteral("port"), TextOrNull(r.PortPath)},
        {QStringLiteral("serial"), TextOrNull(r.Serial)},
        {QStringLiteral("status"), r.Status},
        {QStringLiteral("reason"), state != nullptr ? ReasonWithFindings(r.Status, state->media)
                                                    : StatusReasonText(r.Status)},
        {QStringLiteral("first_status"), OrNull(r.FirstStatus)},
        {QStringLiteral("first_reason"), TextOrNull(r.FirstReason)},
        {QStringLiteral("pulled"), state != nullptr && state->pulled},
        {QStringLiteral("passed"), r.Passed},
        {QStringLiteral("media"),
         QJsonObject{
             {QStringLiteral("real_sectors"), OrNull(r.MediaRealSectors)},
             {QStringLiteral("write_mbps"), OrNull(r.MediaWriteMBps)},
             {QStringLiteral("read_mbps"), OrNull(r.MediaReadMBps)},
             {QStringLiteral("sectors_tested"), OrNull(r.MediaSectorsTested)},
             {QStringLiteral("sectors_failed"), OrNull(r.MediaSectorsFailed)},
             {QStringLiteral("reported_sectors"),
              state != nullptr && state->media.ReportedSectors > 0
                  ? QJsonValue(static_cast<double>(state->media.ReportedSectors))
                  : QJsonValue()},
             {QStringLiteral("min_write_mbps"), state != nullptr && state->media.MinWriteMBps > 0
                                                    ? QJsonValue(state->media.MinWriteMBps)
                                                    : QJsonValue()},
             {QStringLiteral("min_read_mbps"), state != nullptr && state->media.MinReadMBps > 0
                                                   ? QJsonValue(state->media.MinReadMBps)
                                                   : QJsonValue()}}},
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

QJsonObject Product(const ProductConfig& p, const QString& hash) {
    return {{QStringLiteral("vid"), p.Vid},
            {QStringLiteral("pid"), p.Pid},
            {QStringLiteral("usb_manufacturer"), p.UsbManufactureString},
            {QStringLiteral("usb_product"), p.UsbProductString},
            {QStringLiteral("scsi_manufacturer"), p.ScsiManufactureString},
            {QStringLiteral("scsi_product"), p.ScsiProductString},
            {QStringLiteral("disk_label"), p.DiskLabel},
            {QStringLiteral("hash"), TextOrNull(hash)}};
}

} // namespace

QByteArray BatchJson(const TestFrm* frm, const RunRecorder* recorder, int exitCode,
                     const QString& message) {
    QJsonObject o;
    const bool ran = frm != nullptr && recorder != nullptr;
    o.insert(QStringLiteral("run_id"), ran ? QJsonValue(recorder->RunId()) : QJsonValue());
    const QString verdict = frm != nullptr ? frm->VerdictShown() : QString();
    o.insert(QStringLiteral("verdict"), TextOrNull(verdict));
    o.insert(QStringLiteral("exit_code"), exitCode);
    if (!message.isEmpty()) {
        o.insert(QStringLiteral("message"), message);
    }
    if (recorder != nullptr) {
        o.insert(QStringLiteral("station_id"), recorder->Identity().StationId);
        o.insert(QStringLiteral("operator"), recorder->Operator());
        o.insert(QStringLiteral("lot"), recorder->Lot());
    }
    QJsonArray drives;
    if (ran) {
        const RunState& state = frm->State();
        o.insert(QStringLiteral("started_utc"), TextOrNull(state.startedUtc));
        o.insert(QStringLiteral("ended_utc"), TextOrNull(state.endedUtc));
        o.insert(QStringLiteral("product"), Product(const_cast<TestFrm*>(frm)->Context().Product,
                                                    recorder->Identity().ProductHash));
        for (const DriveRecord& r : recorder->LastRun()) {
            drives.append(Drive(*frm, r));
        }
    }
    o.insert(QStringLiteral("drives"), drives);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

} // namespace ufd
