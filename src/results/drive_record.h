// The record of one drive after one run: who the drive is, what product it
// was made into, on which station and slot, and what every ticked item said.
// Columns are defined once, here; the stores, the journal and the exports
// all follow this one list.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QVariant>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace ufd {

// One ticked item of one slot: its two captions as the window showed them,
// the slot's Status after it and how long its device procedures took.
struct ItemResult {
    QString Upper;
    QString Lower;
    int Status = 0;
    qint64 DurationMs = 0;

    bool operator==(const ItemResult&) const = default;
};

// The items that call the device layer, in run order. "1M" has no procedure
// and nothing to record.
inline constexpr int kRecordedItems = 4;
inline constexpr std::array<const char*, kRecordedItems> kItemColumnNames = {
    "format", "manufacture", "check_config", "check_wp"};

struct DriveRecord {
    QString RunId;
    int Slot = 0; // 1..16
    QString StationId;
    QString StartedUtc; // ISO 8601, milliseconds, "Z"
    QString EndedUtc;
    QString StationVersion;
    // The product, as read from Product.ini, and a hash of that file's bytes.
    QString Vid, Pid;
    QString UsbManufacturer, UsbProduct, ScsiManufacturer, ScsiProduct;
    QString DiskLabel;
    double FirstShare = 0, SecondShare = 0;
    QString ProductHash;
    // The drive.
    std::optional<int> DriveIndex;
    QString PortPath;
    QString DeviceLine;
    QString Serial;
    std::optional<qint64> CapacitySectors; // known once Format has read it
    int ChipCount = 0;
    int ControllerCode = 0;
    int Status = 0; // the slot's Status at the end of the run
    bool Passed = false;
    std::array<std::optional<ItemResult>, kRecordedItems> Items; // empty: not ticked
    // Who ran it and for which lot, as given to the station (may be empty).
    QString Operator, Lot;

    // The media test inside Format ([MediaTest]); empty where it did not run
    // or did not get that far.
    std::optional<qint64> MediaRealSectors; // what the probe found the flash keeps
    std::optional<double> MediaWriteMBps;   // 10^6 bytes per second
    std::optional<double> MediaReadMBps;
    std::optional<qint64> MediaSectorsTested;
    std::optional<qint64> MediaSectorsFailed;

    // The label of the drive's socket row ([Window] RowPerSocket); empty without.
    QString Socket;

    // The root cause: the status the first failed item left and its reason
    // ("pulled during the run" for a drive taken out); empty when none failed.
    std::optional<int> FirstStatus = std::nullopt;
    QString FirstReason = {};

    // What a read from a table found that the fields above cannot hold: SQL
    // NULL where a field has no null of its own, and a passed other than 0
    // or 1 (a table filled by hand may hold either). The figures' index
    // answers as the database would only while it knows them; nothing writes
    // them. A text field holds SQL NULL as a null string, apart from "".
    struct AsStored {
        bool SlotNull = false;
        bool StatusNull = false;
        bool PassedNull = false;
        bool PassedOther = false;

        bool operator==(const AsStored&) const = default;
    };
    AsStored Stored = {};

    bool operator==(const DriveRecord&) const = default;
};

enum class ColumnType { Text, Integer, Real };

struct Column {
    QString name;
    ColumnType type;
    int since = 1;        // the schema version that added it
    bool figures = false; // read by the figures' index (yield and Pareto)
};

// Every column of the drive_records table, in table order.
const std::vector<Column>& RecordColumns();

// One value per column, in RecordColumns() order; a null QVariant is SQL NULL.
QVariantList ToValues(const DriveRecord& record);
// The inverse; values that do not fit their column are read as null/0.
DriveRecord FromValues(const QVariantList& values);
// One value of it into record: column is a place in RecordColumns().
void SetColumn(DriveRecord& record, size_t column, const QVariant& value);

// The record as one JSON object keyed by column name (the journal's line and
// export --json's line); FromJson is its inverse, nullopt when a key is
// missing (but one added after the first schema: a line journaled by an older
// station) or has the wrong type.
QJsonObject ToJson(const DriveRecord& record);
std::optional<DriveRecord> FromJson(const QJsonObject& object);

} // namespace ufd
