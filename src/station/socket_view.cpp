// The rows as the drives' places: after each discovery every row says which
// drive it shows (serial and port as its tooltip); with [Window]
// RowPerSocket each row stays with its socket, an emptied socket's row is
// emptied, and found drives without a row are named on the status line.
#include "station/station_form.h"

#include "station/drive_pictures.h"
#include "station/station_language.h"
#include "station/window_run_view.h"

#include <QStringList>

namespace ufd {

namespace {

QString RowToolTip(const QString& socket, int driveIndex, const DriveIdentity& id, bool present) {
    QStringList lines;
    if (!socket.isEmpty()) {
        lines << QCoreApplication::translate("TestFrm", "Socket %1 (drive index %2)")
                     .arg(socket)
                     .arg(driveIndex);
    } else if (present) {
        lines << QCoreApplication::translate("TestFrm", "Drive index %1").arg(driveIndex);
    }
    if (!present) {
        lines << QCoreApplication::translate("TestFrm", "No drive");
        return lines.join(QLatin1Char('\n'));
    }
    lines << QCoreApplication::translate("TestFrm", "Serial ") +
                 (id.Serial.isEmpty() ? QCoreApplication::translate("TestFrm", "(unknown)")
                                      : id.Serial);
    lines << QCoreApplication::translate("TestFrm", "Port ") +
                 (id.PortPath.isEmpty() ? QCoreApplication::translate("TestFrm", "(unknown)")
                                        : id.PortPath);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

void TestFrm::ShowSockets(const std::vector<int>& driveIndexes) {
    const SlotTable& table = ctx_.slots;
    occupants_.resize(static_cast<size_t>(rows_.shown));
    ports_.resize(static_cast<size_t>(rows_.shown));
    for (int row = 0; row < rows_.shown; ++row) {
        if (sockets_.Enabled() && sockets_.IndexOfRow(row) < 0) {
            continue; // more rows than [Sockets] lists: these stay as designed
        }
        const int record = SlotOfRow(row);
        const bool present = record >= 0 && record < table.DiskCount &&
                             record < static_cast<int>(driveIndexes.size());
        const DriveIdentity id =
            present ? ctx_.transport->Identity(table.DiskSlots[static_cast<size_t>(record)].Handle)
                    : DriveIdentity{};
        const int driveIndex = present ? driveIndexes[static_cast<size_t>(record)] : -1;
        QString socket;
        if (sockets_.Enabled()) {
            // A new stick in the socket (or none) must not show the last
            // one's results: the operator would pull the wrong one.
            const QString occupant =
                present ? QStringLiteral("%1/%2").arg(driveIndex).arg(id.Serial) : QString();
            QString& before = occupants_[static_cast<size_t>(row)];
            // A standing report keeps its rows ([Window] KeepReport): an
            // emptied socket's row is marked, not emptied.
            const bool kept = RowKept(row);
            if (occupant != before && !kept) {
                ShowDiskRow(kFalse, static_cast<int16_t>(row));
            }
            before = occupant;
            if (!present && !kept) {
                SetPicture(row, kPictureNoDrive);
            }
            QString& port = ports_[static_cast<size_t>(row)];
            if (!id.PortPath.isEmpty()) {
                port = id.PortPath;
            }
            socket = sockets_.Label(row);
            if (socket.isEmpty()) {
                socket = port.isEmpty() ? QStringLiteral("Disk %1").arg(row) : port;
            }
            SetRowLabel(row, socket);
            if (ctx_.Settings.VerdictColours) {
                // The socket's label read from across the line.
                ItemLab(row)->setFont(SansFont(11, true));
            }
            if (kept) {
                shownRows_[static_cast<size_t>(row)].removed = !present;
            }
        }
        const QString tip = RowToolTip(
            socket, sockets_.Enabled() ? sockets_.IndexOfRow(row) : driveIndex, id, present);
        for (QLabel* w :
             {static_cast<QLabel*>(ItemLab(row)), static_cast<QLabel*>(ThumbImage(row))}) {
            if (w != nullptr) {
                w->setToolTip(tip);
            }
        }
        if (sockets_.Enabled() && RowKept(row)) {
            MarkRow(row);
        }
    }

    const QString warning = sockets_.NoRowWarning(table.DiskCount);
    if (warning != noRowWarning_) {
        if (!warning.isEmpty()) {
            ShowOnStatusLine(warning);
        } else if (StatusLab != nullptr && StatusLab->text() == noRowWarning_) {
            StatusLab->hide();
        }
        noRowWarning_ = warning;
    }
}

QString TestFrm::SocketOfSlot(int record) const {
    return sockets_.Enabled() ? WindowRunView::Of(*this).Label(record) : QString();
}

} // namespace ufd
