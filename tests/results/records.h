// Records for the results tests: every column filled, with the awkward
// texts a caption or a product string can hold.
#pragma once

#include "results/drive_record.h"
#include "results/results_store.h"

#include <gtest/gtest.h>

#include <QString>

#include <vector>

namespace ufd::test {

inline DriveRecord MakeRecord(const QString& run, int slot, const QString& station = "line-1") {
    DriveRecord r;
    r.RunId = run;
    r.Slot = slot;
    r.StationId = station;
    r.StartedUtc = QStringLiteral("2026-12-07T08:00:00.000Z");
    r.EndedUtc = QStringLiteral("2026-12-07T08:01:30.250Z");
    r.StationVersion = QStringLiteral("0.1.0");
    r.Vid = QStringLiteral("1234");
    r.Pid = QStringLiteral("5678");
    r.UsbManufacturer = QStringLiteral("Acme, Inc.");
    r.UsbProduct = QStringLiteral("Flash \"Pro\"");
    r.ScsiManufacturer = QStringLiteral("Acme");
    r.ScsiProduct = QStringLiteral("Line one\r\nline two");
    r.DiskLabel = QStringLiteral("ÜBER");
    r.FirstShare = 0.25;
    r.SecondShare = 0.75;
    r.ProductHash = QStringLiteral("ab12");
    r.DriveIndex = slot;
    r.PortPath = QStringLiteral("1-%1.2").arg(slot);
    r.DeviceLine =
        QStringLiteral("USBSTOR\\Disk&Ven_Generic&Prod_Flash_Disk&Rev_1.00\\S%1").arg(slot);
    r.Serial = QStringLiteral("S%1").arg(slot);
    r.CapacitySectors = 8000000000LL + slot; // beyond 32 bits
    r.ChipCount = 2;
    r.ControllerCode = 0x29;
    r.Status = slot % 3 == 0 ? 0x10 : 0;
    r.Passed = r.Status == 0;
    r.Items[0] =
        ItemResult{QStringLiteral("V"), QStringLiteral("2 Chip(s)   500 MB"), r.Status, 1234};
    r.Items[1] = ItemResult{QStringLiteral("String = V"), QStringLiteral("Write = V"), r.Status, 7};
    if (slot % 2 == 0) {
        // An item that was not ticked, and a drive that never gave its size.
        r.Items[2].reset();
        r.CapacitySectors.reset();
        r.DriveIndex.reset();
    } else {
        r.Items[2] = ItemResult{QStringLiteral("X"), QStringLiteral("Error Status = F4"), 0xF4, 0};
    }
    return r;
}

inline std::vector<DriveRecord> MakeRun(const QString& run, int drives,
                                        const QString& station = "line-1") {
    std::vector<DriveRecord> out;
    for (int s = 1; s <= drives; ++s) {
        out.push_back(MakeRecord(run, s, station));
    }
    return out;
}

// Every record the database holds; a failed read fails the test.
inline std::vector<DriveRecord> ReadAll(const DatabaseTarget& target) {
    ResultsStore store(target);
    QString error;
    auto records = store.Read({}, &error);
    EXPECT_TRUE(records) << error.toStdString();
    return records.value_or(std::vector<DriveRecord>{});
}

} // namespace ufd::test
