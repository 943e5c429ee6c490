// [Window] RowPerSocket: the window's rows as a view over the slot table,
// keyed by drive index. Discovery still numbers the slots in index order,
// so the run's order and codes stay; only where a slot is shown changes:
// each row belongs to one socket and keeps its place when other sockets
// are empty. Without the setting a slot's row is its record, as designed.
#pragma once

#include "settings/station_settings.h"

#include <QString>

#include <vector>

namespace ufd {

class SocketRows {
public:
    SocketRows() = default;
    // The sockets are the drive indexes [Sockets] names, in index order, else
    // every index from 0; the first `shown` of them have a row.
    SocketRows(const StationSettings& settings, int shown);

    bool Enabled() const { return enabled_; }
    // The row of slot record i, -1 when it has none.
    int RowOfSlot(int record) const;
    // The slot record a row shows, -1 for an empty socket.
    int SlotOfRow(int row) const;
    // The drive index of a row's socket, -1 when the row has none.
    int IndexOfRow(int row) const;
    // The [Sockets] label of a row, empty when it has none.
    QString Label(int row) const;

    // After discovery: record i holds the drive at driveIndexes[i].
    void Place(const std::vector<int>& driveIndexes);
    // The drive indexes of the records without a row, and what would show
    // them; empty when every found drive has its row.
    QString NoRowWarning(int diskCount) const;

private:
    bool enabled_ = false;
    int shown_ = 0;
    std::vector<int> sockets_; // drive index per socket, in row order
    std::map<int, QString> labels_;
    std::vector<int> placed_; // drive index per slot record
};

} // namespace ufd
