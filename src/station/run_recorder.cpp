#include "station/run_recorder.h"

#include "config/bounded_file.h"
#include "config/product_config.h"
#include "config/program_directory.h"
#include "results/cfx_drop_folder.h"
#include "results/database_target.h"
#include "results/journal.h"
#include "station/station_form.h"
#include "station/twips.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLabel>
#include <QSysInfo>
#include <QUuid>

#include <algorithm>

namespace ufd {

namespace {

// A journal from before journals were kept per database: nobody can say
// where its records belong, so it is never replayed; the engineer is told how
// to send them, once per start.
void NoteUnmarkedJournal(const DatabaseTarget& target, const QString& journal) {
    const QString unmarked =
        ResultsDataDirectory() + QLatin1Char('/') + QLatin1String(kUnmarkedJournalName);
    const int waiting = Journal(unmarked).Count();
    if (waiting > 0) {
        qWarning("ufd-station: %s holds %d record(s) from an earlier version that did not note "
                 "their database; they are sent nowhere. If they belong to %s, append its lines to "
                 "%s and remove it.",
                 qPrintable(unmarked), waiting, qPrintable(target.Describe()), qPrintable(journal));
    }
}

} // namespace

QString RecordStationId(const QString& setting) {
    return setting.isEmpty() ? QSysInfo::machineHostName() : setting;
}

std::shared_ptr<RunRecorder> MakeRunRecorder(const StationSettings& settings, QString* error) {
    const TargetResult target = ParseDatabaseSetting(settings.Database);
    if (target.error) {
        *error =
            SettingError(settings.Source, QStringLiteral("Results"), QStringLiteral("Database"),
                         MaskedDatabaseSetting(settings.Database), *target.error);
        return nullptr;
    }
    // The journal is where records go when the database fails: one that
    // cannot be written would lose them, one that blocks would hang the run.
    const QString journal =
        ResultsDataDirectory() + QLatin1Char('/') + JournalFileName(target.target);
    if (const std::optional<QString> problem = JournalProblem(journal)) {
        *error = QStringLiteral("The results journal cannot be used: ") + *problem;
        return nullptr;
    }
    NoteUnmarkedJournal(target.target, journal);
    RecorderIdentity identity;
    identity.StationId = RecordStationId(settings.StationId);
    identity.StationVersion = QStringLiteral(UFD_VERSION);
    identity.DropFolder = settings.DropFolder;
    identity.Limits = {settings.MinWriteMBps, settings.MinReadMBps};
    // Bounded as the reader is: a FIFO or /dev/zero named Product.ini must
    // reach the reader's own message, not hang here.
    const std::optional<QByteArray> product = ReadBoundedFile(
        QFile::encodeName(ProgramDirectory() + QStringLiteral("Product.ini")).toStdString(),
        kMaxProductIniBytes);
    if (product) {
        identity.ProductHash = QString::fromLatin1(
            QCryptographicHash::hash(*product, QCryptographicHash::Sha256).toHex());
    }
    auto writer = std::make_shared<ResultsWriter>(target.target, journal);
    return std::make_shared<RunRecorder>(std::move(writer), std::move(identity));
}

RunRecorder::RunRecorder(std::shared_ptr<ResultsWriter> writer, RecorderIdentity identity)
    : writer_(std::move(writer)), identity_(std::move(identity)) {}

void RunRecorder::Attach(TestFrm& frm) {
    auto* line = new QLabel(&frm);
    line->setObjectName(QStringLiteral("ResultsLab"));
    line->setFont(SansFont(8.25, true));
    line->setWordWrap(true);
    line->setStyleSheet(QStringLiteral("background: rgb(255, 255, 0); color: rgb(192, 0, 0);"));
    line->hide();
    QObject::connect(
        writer_.get(), &ResultsWriter::Finished, line, [line](bool stored, const QString& warning) {
            // Over the identity line at the foot of the window,
            // whatever size its rows gave it: the operator must
            // not miss it, and it leaves the rows alone.
            // All of the warning, wrapped: the bar grows to it.
            const QWidget* window = line->parentWidget();
            line->setText(warning);
            const int width = window->width() - 2 * TwipsToPixels(60);
            const int height = std::max(TwipsToPixels(420), line->heightForWidth(width));
            line->setGeometry(TwipsToPixels(60), window->height() - height - 2, width, height);
            line->setVisible(!stored);
            line->raise();
        });
}

void RunRecorder::Begin() {
    runId_ = QUuid::createUuid().toString(QUuid::WithoutBraces);
}

void RunRecorder::Finish(const RunState& state, const StationContext& ctx) {
    const ProductConfig& p = ctx.Product;
    std::vector<DriveRecord> records;
    for (int i = 0; i < static_cast<int>(state.drives.size()) && i < kMaxSlots; ++i) {
        const DriveState& d = state.drives[static_cast<size_t>(i)];
        const DiskSlot& slot = ctx.slots.DiskSlots[static_cast<size_t>(i)];
        DriveRecord r;
        r.RunId = runId_;
        r.Slot = i + 1;
        r.StationId = identity_.StationId;
        r.StartedUtc = state.startedUtc;
        r.EndedUtc = state.endedUtc;
        r.StationVersion = identity_.StationVersion;
        r.Operator = operator_;
        r.Lot = lot_;
        r.Vid = p.Vid;
        r.Pid = p.Pid;
        r.UsbManufacturer = p.UsbManufactureString;
        r.UsbProduct = p.UsbProductString;
        r.ScsiManufacturer = p.ScsiManufactureString;
        r.ScsiProduct = p.ScsiProductString;
        r.DiskLabel = p.DiskLabel;
        r.FirstShare = p.FirstShare;
        r.SecondShare = p.SecondShare;
        r.ProductHash = identity_.ProductHash;
        if (d.driveIndex >= 0) {
            r.DriveIndex = d.driveIndex;
        }
        r.PortPath = d.port;
        r.Socket = d.socket;
        r.Serial = d.serial;
        r.DeviceLine = slot.DeviceText;
        if (slot.LastSector > 0) {
            r.CapacitySectors = static_cast<qint64>(slot.LastSector) + 1;
        }
        r.ChipCount = slot.ChipCount;
        r.ControllerCode = slot.ControllerCode;
        r.Status = d.status;
        r.Passed = d.status == 0;
        if (d.firstItem >= 0 || d.pulled) {
            r.FirstStatus = d.firstItem >= 0 ? d.firstStatus : d.status;
            r.FirstReason = FirstReason(d);
        }
        if (const MediaFindings& m = d.media; m.Ran) {
            if (m.RealSectors > 0) {
                r.MediaRealSectors = m.RealSectors;
            }
            if (m.WriteMBps > 0) {
                r.MediaWriteMBps = m.WriteMBps;
                r.MediaReadMBps = m.ReadMBps;
            }
            r.MediaSectorsTested = m.SectorsTested;
            r.MediaSectorsFailed = m.SectorsFailed;
        }
        for (int item = 0; item < kRecordedItems; ++item) {
            const ItemState& t = d.items[static_cast<size_t>(item)];
            if (!t.ticked) {
                continue;
            }
            // A box's caption as the operator saw it: empty when hidden.
            r.Items[static_cast<size_t>(item)] =
                ItemResult{t.upper.shown ? t.upper.text : QString(),
                           t.lower.shown ? t.lower.text : QString(), t.status, t.ms};
        }
        records.push_back(std::move(r));
    }
    lastRun_ = records;
    if (!records.empty()) {
        writer_->Submit(std::move(records));
        WriteDropFile(identity_.DropFolder, lastRun_, identity_.Limits);
    }
}

} // namespace ufd
