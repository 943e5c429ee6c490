#include "results/drive_record.h"

#include <QJsonValue>

#include <functional>

namespace ufd {

namespace {

struct Field {
    Column column;
    std::function<QVariant(const DriveRecord&)> get;
    std::function<void(DriveRecord&, const QVariant&)> set;
};

// SQL NULL as a null string, any text (even "") as a string that is not:
// the figures group the two apart, as the database does.
QString TextOf(const QVariant& v) {
    if (v.isNull()) {
        return {};
    }
    QString text = v.toString();
    return text.isNull() ? QStringLiteral("") : text;
}

template <typename M> Field Text(const char* name, M DriveRecord::*member) {
    return {{QString::fromLatin1(name), ColumnType::Text},
            [member](const DriveRecord& r) { return QVariant(r.*member); },
            [member](DriveRecord& r, const QVariant& v) { r.*member = TextOf(v); }};
}

// null: where the record keeps that the column held SQL NULL, if it does.
template <typename M>
Field Integer(const char* name, M DriveRecord::*member,
              bool DriveRecord::AsStored::*null = nullptr) {
    return {{QString::fromLatin1(name), ColumnType::Integer},
            [member](const DriveRecord& r) { return QVariant(static_cast<qint64>(r.*member)); },
            [member, null](DriveRecord& r, const QVariant& v) {
                r.*member = static_cast<M>(v.toLongLong());
                if (null != nullptr) {
                    r.Stored.*null = v.isNull();
                }
            }};
}

template <typename T> Field Optional(const char* name, std::optional<T> DriveRecord::*member) {
    return {{QString::fromLatin1(name), ColumnType::Integer},
            [member](const DriveRecord& r) {
                return r.*member ? QVariant(static_cast<qint64>(*(r.*member))) : QVariant();
            },
            [member](DriveRecord& r, const QVariant& v) {
                r.*member =
                    v.isNull() ? std::nullopt : std::optional<T>(static_cast<T>(v.toLongLong()));
            }};
}

Field OptionalReal(const char* name, std::optional<double> DriveRecord::*member) {
    return {
        {QString::fromLatin1(name), ColumnType::Real},
        [member](const DriveRecord& r) { return r.*member ? QVariant(*(r.*member)) : QVariant(); },
        [member](DriveRecord& r, const QVariant& v) {
            r.*member = v.isNull() ? std::nullopt : std::optional<double>(v.toDouble());
        }};
}

// A column added by a later schema version.
Field Since(int version, Field f) {
    f.column.since = version;
    return f;
}

// A column the figures' index reads.
Field Figure(Field f) {
    f.column.figures = true;
    return f;
}

Field Real(const char* name, double DriveRecord::*member) {
    return {{QString::fromLatin1(name), ColumnType::Real},
            [member](const DriveRecord& r) { return QVariant(r.*member); },
            [member](DriveRecord& r, const QVariant& v) { r.*member = v.toDouble(); }};
}

// One column of an item; null when the item was not ticked, and a null value
// leaves the item unticked.
template <typename M>
Field ItemField(int item, const char* suffix, ColumnType type, M ItemResult::*member) {
    const auto index = static_cast<size_t>(item);
    return {{QString::fromLatin1(kItemColumnNames[index]) + QString::fromLatin1(suffix), type},
            [index, member](const DriveRecord& r) {
                const auto& o = r.Items[index];
                return o ? QVariant::fromValue((*o).*member) : QVariant();
            },
            [index, member](DriveRecord& r, const QVariant& v) {
                if (v.isNull()) {
                    return;
                }
                auto& o = r.Items[index];
                if (!o) {
                    o.emplace();
                }
                (*o).*member = v.value<M>();
            }};
}

// The four columns of one item.
void AddItem(std::vector<Field>& fields, int item) {
    fields.push_back(ItemField(item, "_upper", ColumnType::Text, &ItemResult::Upper));
    fields.push_back(ItemField(item, "_lower", ColumnType::Text, &ItemResult::Lower));
    // Format's status says whether a record counts for the figures at all.
    Field status = ItemField(item, "_status", ColumnType::Integer, &ItemResult::Status);
    fields.push_back(item == 0 ? Figure(std::move(status)) : std::move(status));
    fields.push_back(ItemField(item, "_ms", ColumnType::Integer, &ItemResult::DurationMs));
}

const std::vector<Field>& Fields() {
    static const std::vector<Field> fields = [] {
        std::vector<Field> f{
            Figure(Text("run_id", &DriveRecord::RunId)),
            Figure(Integer("slot", &DriveRecord::Slot, &DriveRecord::AsStored::SlotNull)),
            Figure(Text("station_id", &DriveRecord::StationId)),
            Figure(Text("started_utc", &DriveRecord::StartedUtc)),
            Text("ended_utc", &DriveRecord::EndedUtc),
            Text("station_version", &DriveRecord::StationVersion),
            Figure(Since(3, Text("operator", &DriveRecord::Operator))),
            Figure(Since(3, Text("lot", &DriveRecord::Lot))),
            Figure(Text("vid", &DriveRecord::Vid)),
            Figure(Text("pid", &DriveRecord::Pid)),
            Text("usb_manufacturer", &DriveRecord::UsbManufacturer),
            Figure(Text("usb_product", &DriveRecord::UsbProduct)),
            Text("scsi_manufacturer", &DriveRecord::ScsiManufacturer),
            Text("scsi_product", &DriveRecord::ScsiProduct),
            Text("disk_label", &DriveRecord::DiskLabel),
            Real("first_share", &DriveRecord::FirstShare),
            Real("second_share", &DriveRecord::SecondShare),
            Text("product_hash", &DriveRecord::ProductHash),
            Optional("drive_index", &DriveRecord::DriveIndex),
            Figure(Text("port_path", &DriveRecord::PortPath)),
            Figure(Since(4, Text("socket", &DriveRecord::Socket))),
            Text("device_line", &DriveRecord::DeviceLine),
            Figure(Text("serial", &DriveRecord::Serial)),
            Optional("capacity_sectors", &DriveRecord::CapacitySectors),
            Integer("chip_count", &DriveRecord::ChipCount),
            Integer("controller_code", &DriveRecord::ControllerCode),
            Figure(Integer("status", &DriveRecord::Status, &DriveRecord::AsStored::StatusNull)),
            Figure({{QStringLiteral("passed"), ColumnType::Integer},
                    [](const DriveRecord& r) { return QVariant(r.Passed ? 1 : 0); },
                    [](DriveRecord& r, const QVariant& v) {
                        const qint64 p = v.toLongLong();
                        r.Passed = p != 0;
                        r.Stored.PassedNull = v.isNull();
                        r.Stored.PassedOther = !v.isNull() && p != 0 && p != 1;
                    }}),
        };
        for (int item = 0; item < kRecordedItems; ++item) {
            AddItem(f, item);
        }
        // Version 2: the media test's findings.
        f.push_back(Since(2, Optional("media_real_sectors", &DriveRecord::MediaRealSectors)));
        f.push_back(Since(2, OptionalReal("media_write_mbps", &DriveRecord::MediaWriteMBps)));
        f.push_back(Since(2, OptionalReal("media_read_mbps", &DriveRecord::MediaReadMBps)));
        f.push_back(Since(2, Optional("media_sectors_tested", &DriveRecord::MediaSectorsTested)));
        f.push_back(Since(2, Optional("media_sectors_failed", &DriveRecord::MediaSectorsFailed)));
        // Version 5: the root cause beside the last status.
        f.push_back(Figure(Since(5, Optional("first_status", &DriveRecord::FirstStatus))));
        f.push_back(Since(5, Text("first_reason", &DriveRecord::FirstReason)));
        return f;
    }();
    return fields;
}

} // namespace

const std::vector<Column>& RecordColumns() {
    static const std::vector<Column> columns = [] {
        std::vector<Column> c;
        for (const Field& f : Fields()) {
            c.push_back(f.column);
        }
        return c;
    }();
    return columns;
}

QVariantList ToValues(const DriveRecord& record) {
    QVariantList values;
    for (const Field& f : Fields()) {
        values << f.get(record);
    }
    return values;
}

void SetColumn(DriveRecord& record, size_t column, const QVariant& value) {
    Fields()[column].set(record, value);
}

DriveRecord FromValues(const QVariantList& values) {
    DriveRecord r;
    const std::vector<Field>& fields = Fields();
    for (size_t i = 0; i < fields.size() && i < static_cast<size_t>(values.size()); ++i) {
        fields[i].set(r, values[static_cast<qsizetype>(i)]);
    }
    return r;
}

QJsonObject ToJson(const DriveRecord& record) {
    QJsonObject o;
    for (const Field& f : Fields()) {
        o.insert(f.column.name, QJsonValue::fromVariant(f.get(record)));
    }
    return o;
}

std::optional<DriveRecord> FromJson(const QJsonObject& object) {
    QVariantList values;
    for (const Field& f : Fields()) {
        const auto it = object.find(f.column.name);
        if (it == object.end() && f.column.since > 1) {
            values << QVariant(); // a journal line written before the column was
            continue;
        }
        if (it == object.end()) {
            return std::nullopt;
        }
        const QJsonValue v = *it;
        const bool fits =
            v.isNull() || (f.column.type == ColumnType::Text ? v.isString() : v.isDouble());
        if (!fits) {
            return std::nullopt;
        }
        values << v.toVariant();
    }
    // A journal line is what a station wrote, and its rewrite must give the
    // same record back: what a table read finds odd (a NULL slot, a passed
    // of 5) is no part of it.
    DriveRecord r = FromValues(values);
    r.Stored = {};
    return r;
}

} // namespace ufd
