#include "station/run_recorder.h"

#include "config/bounded_file.h"
#include "config/product_config.h"
#include "config/program_directory.h"
#include "results/cfx_drop_folder.h"
#include "results/database_target.h"
#include "results/journal.h"
#include "station/control_array.h"
#include "station/test_frm.h"
#include "station/twips.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSysInfo>
#include <QUuid>

#include <algorithm>

namespace ufd {

namespace {

QString Utc(const QDateTime& t) {
    return t.toUTC().toString(Qt::ISODateWithMs);
}

// A box's caption as the operator saw it: empty when hidden or missing.
QString Seen(const QLabel* box) {
    return IsShown(box) ? box->text() : QString();
}

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
    started_ = QDateTime::currentDateTimeUtc();
    timings_ = {};
}

DeviceProcedures RunRecorder::Timed(const DeviceProcedures& dev) {
    DeviceProcedures timed;
    // Each wrapper notes the slot's Status after the procedure; Format's two
    // procedures add up to one item.
    auto wrap = [this](int item, auto procedure) {
        return [this, item, procedure](StationContext& c, int16_t slot, auto... rest) {
            QElapsedTimer clock;
            clock.start();
            auto finish = [&] { Note(item, c, slot, clock.elapsed()); };
            if constexpr (std::is_void_v<decltype(procedure(c, slot, rest...))>) {
                procedure(c, slot, rest...);
                finish();
            } else {
                const auto r = procedure(c, slot, rest...);
                finish();
                return r;
            }
        };
    };
    if (dev.ScanChips) {
        timed.ScanChips = wrap(0, dev.ScanChips);
    }
    if (dev.LowLevelFormat) {
        timed.LowLevelFormat = wrap(0, dev.LowLevelFormat);
    }
    if (dev.WriteIdentity) {
        timed.WriteIdentity = wrap(1, dev.WriteIdentity);
    }
    if (dev.CheckIdentity) {
        timed.CheckIdentity = wrap(2, dev.CheckIdentity);
    }
    if (dev.CheckWriteProtect) {
        timed.CheckWriteProtect = wrap(3, dev.CheckWriteProtect);
    }
    return timed;
}

void RunRecorder::Note(int item, StationContext& ctx, int16_t slot, qint64 ms) {
    const DiskSlot* record = ctx.slots.Slot(slot);
    if (record == nullptr) {
        return;
    }
    Timing& t = timings_[static_cast<size_t>(slot - 1)][static_cast<size_t>(item)];
    t.ran = true;
    t.status = record->Status;
    t.ms += ms;
}

void RunRecorder::Finish(TestFrm& frm) {
    StationContext& ctx = frm.Context();
    const ProductConfig& p = ctx.Product;
    const QString ended = Utc(QDateTime::currentDateTimeUtc());
    const std::array<std::pair<ControlArray<QLabel>*, ControlArray<QLabel>*>, kRecordedItems>
        boxes = {{{&frm.FG, &frm.FR},
                  {&frm.LLG, &frm.LLR},
                  {&frm.CC1mG, &frm.CC1mR},
                  {&frm.CCG, &frm.CCR}}};
    std::vector<DriveRecord> records;
    for (int i = 0; i < ctx.slots.DiskCount && i < kMaxSlots; ++i) {
        const DiskSlot& slot = ctx.slots.DiskSlots[static_cast<size_t>(i)];
        DriveRecord r;
        r.RunId = runId_;
        r.Slot = i + 1;
        r.StationId = identity_.StationId;
        r.StartedUtc = Utc(started_);
        r.EndedUtc = ended;
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
        const DriveIdentity id = ctx.transport->Identity(slot.Handle);
        if (id.DriveIndex >= 0) {
            r.DriveIndex = id.DriveIndex;
        }
        r.PortPath = id.PortPath;
        r.Socket = frm.SocketOfSlot(i);
        r.Serial = id.Serial;
        r.DeviceLine = slot.DeviceText;
        if (slot.LastSector > 0) {
            r.CapacitySectors = static_cast<qint64>(slot.LastSector) + 1;
        }
        r.ChipCount = slot.ChipCount;
        r.ControllerCode = slot.ControllerCode;
        r.Status = slot.Status;
        r.Passed = slot.Status == 0;
        if (const MediaFindings& m = slot.Media; m.Ran) {
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
            const Timing& t = timings_[static_cast<size_t>(i)][static_cast<size_t>(item)];
            if (!t.ran) {
                continue;
            }
            const auto& [upper, lower] = boxes[static_cast<size_t>(item)];
            const int row = frm.RowOfSlot(i);
            r.Items[static_cast<size_t>(item)] =
                ItemResult{Seen((*upper)(row)), Seen((*lower)(row)), t.status, t.ms};
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
