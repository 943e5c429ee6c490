#include "station/socket_rows.h"

#include "context/disk_slot.h"
#include "station/station_language.h"

#include <QStringList>

#include <algorithm>

namespace ufd {

SocketRows::SocketRows(const StationSettings& settings, int shown)
    : enabled_(settings.RowPerSocket), shown_(shown), labels_(settings.Sockets) {
    for (const auto& entry : settings.Sockets) {
        sockets_.push_back(entry.first);
    }
    if (sockets_.empty()) {
        for (int index = 0; index < kProbeCount; ++index) {
            sockets_.push_back(index);
        }
    }
}

int SocketRows::RowOfSlot(int record) const {
    if (!enabled_) {
        return record;
    }
    if (record < 0 || record >= static_cast<int>(placed_.size())) {
        return -1;
    }
    const auto it = std::ranges::find(sockets_, placed_[static_cast<size_t>(record)]);
    const int row = it == sockets_.end() ? -1 : static_cast<int>(it - sockets_.begin());
    return row < shown_ ? row : -1;
}

int SocketRows::SlotOfRow(int row) const {
    if (!enabled_) {
        return row;
    }
    const int index = IndexOfRow(row);
    const auto it = std::ranges::find(placed_, index);
    return index < 0 || it == placed_.end() ? -1 : static_cast<int>(it - placed_.begin());
}

int SocketRows::IndexOfRow(int row) const {
    if (!enabled_ || row < 0 || row >= shown_ || row >= static_cast<int>(sockets_.size())) {
        return -1;
    }
    return sockets_[static_cast<size_t>(row)];
}

QString SocketRows::Label(int row) const {
    const auto it = labels_.find(IndexOfRow(row));
    return it == labels_.end() ? QString() : it->second;
}

void SocketRows::Place(const std::vector<int>& driveIndexes) {
    placed_ = driveIndexes;
}

QString SocketRows::NoRowWarning(int diskCount) const {
    if (!enabled_) {
        const int unshown = diskCount - shown_;
        return unshown <= 0 ? QString()
                            : QStringLiteral("%1 drive(s) have no row on the window; station.conf "
                                             "shows them with [Window] Rows=%2")
                                  .arg(unshown)
                                  .arg(std::min(diskCount, kMaxWindowRows));
    }
    QStringList indexes;
    int rowsNeeded = 0;
    bool unlisted = false;
    for (int record = 0; record < diskCount && record < static_cast<int>(placed_.size());
         ++record) {
        if (RowOfSlot(record) >= 0) {
            continue;
        }
        const int index = placed_[static_cast<size_t>(record)];
        indexes << QString::number(index);
        const auto it = std::ranges::find(sockets_, index);
        const int position = static_cast<int>(it - sockets_.begin());
        if (it == sockets_.end() || position >= kMaxWindowRows) {
            unlisted = true;
        } else {
            rowsNeeded = std::max(rowsNeeded, position + 1);
        }
    }
    if (indexes.isEmpty()) {
        return {};
    }
    QStringList fixes;
    if (rowsNeeded > 0) {
        fixes << QStringLiteral("[Window] Rows=%1").arg(rowsNeeded);
    }
    if (unlisted) {
        fixes << QCoreApplication::translate("TestFrm", "[Sockets] labels for them");
    }
    return QCoreApplication::translate("TestFrm",
                                       "%1 drive(s) have no row on the window (drive index %2); "
                                       "station.conf shows them with %3")
        .arg(indexes.size())
        .arg(indexes.join(QStringLiteral(", ")),
             fixes.join(QCoreApplication::translate("TestFrm", " and ")));
}

} // namespace ufd
