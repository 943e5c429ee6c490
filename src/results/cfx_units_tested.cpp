#include "results/cfx_units_tested.h"

#include "results/status_reasons.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <algorithm>

namespace ufd {

namespace {

// Names the MES sees for the items, in record order.
constexpr std::array<const char*, kRecordedItems> kTestNames = {"Format", "Manufacture",
                                                                "CheckConfig", "CheckWP"};
constexpr int kFormatItem = 0;

QString Verdict(bool passed) {
    return passed ? QStringLiteral("Passed") : QStringLiteral("Failed");
}

// A stable identifier below the run's: exporting a run again gives the same
// message, and a MES that has it already can tell.
QString Derived(const QString& runId, const QString& what) {
    QUuid base(runId);
    if (base.isNull()) {
        base = QUuid::createUuidV5(QUuid(), runId);
    }
    return QUuid::createUuidV5(base, what).toString(QUuid::WithoutBraces);
}

QJsonValue TextOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

struct Figure {
    const char* name;
    double value;
    const char* units;
    std::optional<double> expected, minimum, maximum;
};

QJsonObject Measurement(const QString& runId, const QString& test, int sequence, const Figure& f) {
    QJsonObject value{{"Value", f.value}, {"ValueUnits", QString::fromLatin1(f.units)}};
    const auto put = [&](const char* key, const std::optional<double>& v) {
        value.insert(QLatin1String(key), v ? QJsonValue(*v) : QJsonValue());
    };
    put("ExpectedValue", f.expected);
    value.insert(QStringLiteral("ExpectedValueUnits"),
                 f.expected ? QJsonValue(QString::fromLatin1(f.units)) : QJsonValue());
    put("MinimumAcceptableValue", f.minimum);
    put("MaximumAcceptableValue", f.maximum);
    const bool within =
        (!f.minimum || f.value >= *f.minimum) && (!f.maximum || f.value <= *f.maximum);
    return {{"$type", "CFX.Structures.NumericMeasurement, CFX"},
            {"UniqueIdentifier", Derived(runId, test + QLatin1Char('/') + QLatin1String(f.name))},
            {"MeasurementName", QString::fromLatin1(f.name)},
            {"TimeRecorded", QJsonValue()},
            {"Sequence", sequence},
            {"Result", Verdict(within)},
            {"MeasuredValue", value}};
}

// The media test's figures, judged by the limits the drive was held to: the
// flash keeps every sector the drive reports, no sector fails, the speeds
// reach their floors.
QJsonArray MediaMeasurements(const DriveRecord& r, const QString& test, const CfxLimits& limits) {
    std::vector<Figure> figures;
    const auto floor = [](double f) { return f > 0 ? std::optional(f) : std::nullopt; };
    if (r.MediaRealSectors) {
        const auto reported =
            r.CapacitySectors ? std::optional(double(*r.CapacitySectors)) : std::nullopt;
        figures.push_back({"RealSectors", double(*r.MediaRealSectors), "sectors", reported,
                           reported, std::nullopt});
    }
    if (r.MediaWriteMBps) {
        figures.push_back({"WriteSpeed", *r.MediaWriteMBps, "MB/s", std::nullopt,
                           floor(limits.MinWriteMBps), std::nullopt});
    }
    if (r.MediaReadMBps) {
        figures.push_back({"ReadSpeed", *r.MediaReadMBps, "MB/s", std::nullopt,
                           floor(limits.MinReadMBps), std::nullopt});
    }
    if (r.MediaSectorsTested) {
        figures.push_back({"SectorsTested", double(*r.MediaSectorsTested), "sectors", std::nullopt,
                           std::nullopt, std::nullopt});
    }
    if (r.MediaSectorsFailed) {
        figures.push_back(
            {"SectorsFailed", double(*r.MediaSectorsFailed), "sectors", 0.0, std::nullopt, 0.0});
    }
    QJsonArray out;
    for (size_t i = 0; i < figures.size(); ++i) {
        out.append(Measurement(r.RunId, test, int(i), figures[i]));
    }
    return out;
}

// The root cause: the drive's Status and its reason in words.
QJsonObject Symptom(const DriveRecord& r, const QString& test) {
    return {{"UniqueIdentifier", Derived(r.RunId, test + QStringLiteral("/symptom"))},
            {"SymptomCode", QStringLiteral("%1").arg(r.Status, 2, 16, QLatin1Char('0')).toUpper()},
            {"SymptomCategory", QStringLiteral("Error Status")},
            {"Description", StatusReasonText(r.Status)},
            {"Comments", QJsonValue()},
            {"Priority", 1}};
}

QJsonObject Unit(const DriveRecord& r, const CfxLimits& limits) {
    // The failure belongs to the item that first left a Status; a failed
    // drive whose items all ended at 0 gets it on its last item.
    int failing = -1;
    if (!r.Passed) {
        for (int i = 0; i < kRecordedItems; ++i) {
            const auto& item = r.Items[size_t(i)];
            if (item && (failing < 0 || item->Status != 0)) {
                failing = i;
                if (item->Status != 0) {
                    break;
                }
            }
        }
    }
    // An item records the drive's Status after it: a code carried over from
    // an earlier item is not this item's failure.
    int before = 0;
    QJsonArray tests;
    for (int i = 0; i < kRecordedItems; ++i) {
        const std::optional<ItemResult>& item = r.Items[size_t(i)];
        if (!item) {
            continue;
        }
        const bool failed = i == failing || (item->Status != 0 && item->Status != before);
        before = item->Status;
        const QString test =
            QStringLiteral("%1/%2").arg(r.Slot).arg(QLatin1String(kTestNames[size_t(i)]));
        QStringList captions;
        for (const QString& c : {item->Upper, item->Lower}) {
            if (!c.isEmpty()) {
                captions << c;
            }
        }
        QJsonArray symptoms;
        if (i == failing) {
            symptoms.append(Symptom(r, test));
        }
        tests.append(
            QJsonObject{{"UniqueIdentifier", Derived(r.RunId, test)},
                        {"TestName", QString::fromLatin1(kTestNames[size_t(i)])},
                        {"TestStartTime", QJsonValue()},
                        {"TestEndTime", QJsonValue()},
                        {"TestConditions", QJsonArray()},
                        {"TestProcedure", QJsonValue()},
                        {"Comments", TextOrNull(captions.join(QStringLiteral(" / ")))},
                        {"Result", Verdict(!failed)},
                        {"Error", QJsonValue()},
                        {"SymptomsFound", symptoms},
                        {"DefectsFound", QJsonArray()},
                        {"Measurements",
                         i == kFormatItem ? MediaMeasurements(r, test, limits) : QJsonArray()}});
    }
    return {{"UnitIdentifier", r.Serial},
            {"UnitPositionNumber", r.DriveIndex ? QJsonValue(*r.DriveIndex) : QJsonValue()},
            {"OverallResult", Verdict(r.Passed)},
            {"Tests", tests}};
}

} // namespace

QJsonObject CfxUnitsTested(const std::vector<DriveRecord>& run, const CfxLimits& limits) {
    const DriveRecord first = run.empty() ? DriveRecord{} : run.front();
    QJsonArray units;
    for (const DriveRecord& r : run) {
        units.append(Unit(r, limits));
    }
    const QJsonValue tester =
        first.Operator.isEmpty()
            ? QJsonValue()
            : QJsonObject{{"OperatorIdentifier", first.Operator}, {"ActorType", "Human"}};
    const QJsonObject body{{"TransactionId", first.RunId},
                           {"TestMethod", "Automated"},
                           {"Tester", tester},
                           {"RecipeName", first.UsbProduct},
                           {"RecipeRevision", TextOrNull(first.ProductHash)},
                           // The message has no field of its own for the lot; readers that do
                           // not know this one pass over it.
                           {"Lot", TextOrNull(first.Lot)},
                           {"SamplingInformation", QJsonObject{{"SamplingMethod", "NoSampling"},
                                                               {"LotSize", QJsonValue()},
                                                               {"SampleSize", QJsonValue()}}},
                           {"TestedUnits", units}};
    return {{"MessageName", QString::fromLatin1(kCfxUnitsTestedName)},
            {"TimeStamp", first.EndedUtc},
            {"UniqueID", Derived(first.RunId, QStringLiteral("UnitsTested"))},
            {"Source", first.StationId},
            {"Target", QJsonValue()},
            {"RequestID", QJsonValue()},
            {"MessageBody", body}};
}

QByteArray CfxUnitsTestedJson(const std::vector<DriveRecord>& run, const CfxLimits& limits) {
    return QJsonDocument(CfxUnitsTested(run, limits)).toJson(QJsonDocument::Indented);
}

std::optional<QByteArray> CfxExportOfRun(const std::vector<DriveRecord>& records,
                                         const QString& runId, const CfxLimits& limits) {
    std::vector<DriveRecord> run;
    std::copy_if(records.begin(), records.end(), std::back_inserter(run),
                 [&](const DriveRecord& r) { return r.RunId == runId; });
    if (run.empty()) {
        return std::nullopt;
    }
    std::stable_sort(run.begin(), run.end(),
                     [](const DriveRecord& a, const DriveRecord& b) { return a.Slot < b.Slot; });
    return CfxUnitsTestedJson(run, limits);
}

} // namespace ufd
