#include "station/test_frm.h"

#include "config/ansi.h"
#include "config/program_directory.h"
#include "format/volume.h"
#include "platform/beep.h"
#include "platform/message_box.h"
#include "station/drive_pictures.h"
#include "station/notice_receiver.h"
#include "station/twips.h"

#include <QCloseEvent>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QPalette>

#include <cmath>
#include <limits>

namespace ufd {

namespace {

const QColor kLightGreen(192, 255, 192);
const QColor kLightRed(255, 192, 192);
const QColor kHeaderBack(255, 192, 255);

} // namespace

// The design's captions were fitted to a narrow bitmap sans. Common sans
// faces clip them, and even a face with Arial's widths clips two check box
// captions by a pixel or two; one with Arial Narrow's widths leaves room.
QFont SansFont(double points, bool bold) {
    QFont f = QFontDatabase::hasFamily(kCaptionFamily)
                  ? QFont(kCaptionFamily)
                  : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

namespace {

void FillBackground(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

void SetTextColour(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, colour);
    w->setPalette(pal);
}

bool Ticked(const QCheckBox* box) {
    return box != nullptr && box->checkState() == Qt::Checked;
}

void SetTicked(QCheckBox* box, bool ticked) {
    if (box != nullptr) {
        box->setChecked(ticked);
    }
}

// A label box of a result column, as element 0 was designed.
QLabel* MakeResultBox(QWidget* parent, const char* name, const QColor& colour, double left,
                      double top, double width, double height) {
    auto* box = new QLabel(parent);
    box->setObjectName(QString::fromLatin1(name));
    FillBackground(box, colour);
    box->setFont(SansFont(8.25));
    box->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    PlaceTwips(box, left, top, width, height);
    box->hide();
    return box;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, double left,
                  double top, double width, double height) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(SansFont(8.25));
    PlaceTwips(label, left, top, width, height);
    return label;
}

// The button shows the caption's CR LF as one line break.
QString ButtonText(const QString& caption) {
    QString text = caption;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

} // namespace

bool WindowAlive(const QPointer<TestFrm>& self) {
    return !self.isNull() && !self->Closing();
}

TestFrm::TestFrm(StationContext& ctx, StationDependencies deps, QWidget* parent)
    : QWidget(parent), ctx_(ctx), deps_(std::move(deps)) {
    setObjectName(QStringLiteral("TestFrm"));
    setWindowTitle(kWindowCaption);
    setFont(SansFont(8.25));
    setFixedSize(TwipsToPixels(9945), TwipsToPixels(7695));
    BuildDesign();
    ctx_.progress = this;

    // The window's timer ticks from the moment the window exists.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(50);
    QObject::connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    Timer1->start();
}

TestFrm::~TestFrm() {
    closing_ = true;
    if (ctx_.progress == this) {
        ctx_.progress = nullptr;
    }
}

void TestFrm::BuildDesign() {
    ScrollArea = new QFrame(this);
    ScrollArea->setObjectName(QStringLiteral("ScrollArea"));
    ScrollArea->setFrameShape(QFrame::Box);
    ScrollArea->setFrameShadow(QFrame::Sunken);
    FillBackground(ScrollArea, palette().color(QPalette::Window));
    PlaceTwips(ScrollArea, 60, 480, 8025, 6765);

    struct Header {
        QLabel** field;
        const char* name;
        const char* caption;
        double left;
        double width;
    };
    const Header headers[] = {
        {&Function1Lab, "Function1Lab", "Format", 990, 1635},
        {&Function2Lab, "Function2Lab", "Config String", 2610, 1845},
        {&function3Lab, "function3Lab", "Check Config", 4440, 1875},
        {&Label1, "Label1", "Check WP", 6300, 1755},
    };
    for (const Header& h : headers) {
        QLabel* label =
            MakeLabel(this, h.name, QString::fromLatin1(h.caption), h.left, 180, h.width, 315);
        label->setFont(SansFont(9.75, true));
        FillBackground(label, kHeaderBack);
        label->setAlignment(Qt::AlignCenter);
        *h.field = label;
    }

    // Separators inside the rows' area: the picture and label, four result
    // columns and the space to their right.
    const double vlineX[] = {900, 2520, 4350, 6210, 7950};
    int vIndex = 0;
    for (double x : vlineX) {
        auto* line = new QFrame(ScrollArea);
        line->setObjectName(QStringLiteral("VLine1_%1").arg(vIndex++));
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Plain);
        PlaceTwips(line, x, 0, 15, 32000);
        VLine1.Add(line);
    }
    for (int i = 0; i < 5; ++i) {
        HLine1.Add(nullptr); // the design's horizontal lines start at element 5
    }
    const double hlineY[] = {12000, 13995, 16005, 18000, 19995, 22005,
                             24000, 25995, 28005, 30000, 32000};
    int hIndex = 5;
    for (double y : hlineY) {
        auto* line = new QFrame(ScrollArea);
        line->setObjectName(QStringLiteral("HLine1_%1").arg(hIndex++));
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Plain);
        PlaceTwips(line, 0, y, 10500, 15);
        HLine1.Add(line);
    }

    BuildRowZero();

    PassLab = new QLabel(QStringLiteral("ALL PASS"), ScrollArea);
    PassLab->setObjectName(QStringLiteral("PassLab"));
    PassLab->setFont(SansFont(24, true));
    SetTextColour(PassLab, QColor(255, 0, 0));
    PassLab->setAlignment(Qt::AlignCenter);
    PlaceTwips(PassLab, 630, 3030, 7635, 585);
    PassLab->hide();

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    PlaceTwips(Image1, 8250, 180, 1380, 1200);
    Image1->setPixmap(StationEmblem(Image1->size()));

    Frame1 = new QGroupBox(QStringLiteral("Setting"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    PlaceTwips(Frame1, 8250, 1440, 1545, 2475);

    struct Item {
        const char* caption;
        double top;
        double width;
        double height;
        bool ticked;
        bool enabled;
        bool visible;
    };
    const Item items[kItemCount] = {
        {"Format", 300, 1185, 255, true, true, true},
        {"Manufacture", 630, 1275, 255, true, true, true},
        {"1M", 1740, 1065, 255, false, false, false},
        {"Check Config", 960, 1275, 255, true, true, true},
        {"Check WP", 1290, 1215, 195, false, true, true},
    };
    for (int i = 0; i < kItemCount; ++i) {
        auto* box = new QCheckBox(QString::fromLatin1(items[i].caption), Frame1);
        box->setObjectName(QStringLiteral("Check1_%1").arg(i));
        PlaceTwips(box, 150, items[i].top, items[i].width, items[i].height);
        box->setChecked(items[i].ticked);
        box->setEnabled(items[i].enabled);
        box->setVisible(items[i].visible);
        // The item rule runs on every change of the value, also when the
        // program changes it, as a click would.
        QObject::connect(box, &QCheckBox::toggled, this,
                         [this, i](bool) { Check1_Click(static_cast<int16_t>(i)); });
        Check1.Add(box);
    }
    Ch = new QCheckBox(QStringLiteral("Enable Beep"), Frame1);
    Ch->setObjectName(QStringLiteral("Ch"));
    PlaceTwips(Ch, 150, 2130, 1215, 255);

    TextDiskLab = MakeLabel(this, "TextDiskLab", QStringLiteral("Disk Lab"), 8130, 4170, 645, 195);
    DiskLabContent = MakeLabel(this, "DiskLabContent", QString(), 8820, 4170, 1095, 195);
    SetTextColour(DiskLabContent, QColor(0, 0, 255));

    GoCmd = new QPushButton(ButtonText(kStartCaption), this);
    GoCmd->setObjectName(QStringLiteral("GoCmd"));
    PlaceTwips(GoCmd, 8258, 5340, 1485, 315);
    ClearCmd = new QPushButton(ButtonText(kClearCaption), this);
    ClearCmd->setObjectName(QStringLiteral("ClearCmd"));
    PlaceTwips(ClearCmd, 8258, 5895, 1485, 315);
    LedCmd = new QPushButton(ButtonText(kLedCaption), this);
    LedCmd->setObjectName(QStringLiteral("LedCmd"));
    PlaceTwips(LedCmd, 8258, 6450, 1485, 615);
    for (QPushButton* b : {GoCmd, ClearCmd, LedCmd}) {
        b->setEnabled(false);
    }
    QObject::connect(GoCmd, &QPushButton::clicked, this, [this] { GoCmd_Click(); });
    QObject::connect(ClearCmd, &QPushButton::clicked, this, [this] { ClearCmd_Click(); });
    QObject::connect(LedCmd, &QPushButton::clicked, this, [this] { LedCmd_Click(); });

    TimLab = MakeLabel(this, "TimLab", QString(), 8220, 6840, 675, 375);
    TimLab->hide();
    VidPidLab = MakeLabel(this, "VidPidLab", QString(), 90, 7380, 1755, 195);
    ScsiStrLab = MakeLabel(this, "ScsiStrLab", QString(), 2040, 7380, 3315, 195);
    UsbStrLab = MakeLabel(this, "UsbStrLab", QString(), 5490, 7380, 3975, 195);
}

void TestFrm::BuildRowZero() {
    auto* thumb = new ClickLabel(ScrollArea);
    thumb->setObjectName(QStringLiteral("ThumbImage_0"));
    PlaceTwips(thumb, 180, 120, 480, 480);
    thumb->setScaledContents(false);
    thumb->setProperty("picture", kPictureNoDrive);
    thumb->setPixmap(DrivePicture(kPictureNoDrive));
    thumb->hide();
    ThumbImage.Add(thumb);

    auto* item = new ClickLabel(QStringLiteral("Disk 0"), ScrollArea);
    item->setObjectName(QStringLiteral("ItemLab_0"));
    item->setFont(SansFont(8.25));
    PlaceTwips(item, 120, 660, 615, 255);
    item->hide();
    ItemLab.Add(item);

    auto* bar = new QProgressBar(ScrollArea);
    bar->setObjectName(QStringLiteral("ProgressBar_0"));
    bar->setRange(0, 100);
    bar->setTextVisible(false);
    PlaceTwips(bar, 960, 382, 1500, 285);
    bar->hide();
    ProgressBar.Add(bar);

    FG.Add(MakeResultBox(ScrollArea, "FG_0", kLightGreen, 967, 240, 1500, 270));
    FR.Add(MakeResultBox(ScrollArea, "FR_0", kLightRed, 967, 539, 1500, 269));
    LLG.Add(MakeResultBox(ScrollArea, "LLG_0", kLightGreen, 2592, 240, 1700, 270));
    LLR.Add(MakeResultBox(ScrollArea, "LLR_0", kLightRed, 2592, 540, 1700, 270));
    CC1mG.Add(MakeResultBox(ScrollArea, "CC1mG_0", kLightGreen, 4410, 240, 1755, 270));
    CC1mR.Add(MakeResultBox(ScrollArea, "CC1mR_0", kLightRed, 4410, 540, 1755, 270));
    CCG.Add(MakeResultBox(ScrollArea, "CCG_0", kLightGreen, 6255, 240, 1665, 270));
    CCR.Add(MakeResultBox(ScrollArea, "CCR_0", kLightRed, 6255, 540, 1665, 270));

    thumb->index = 0;
    thumb->onClick = [this](int i) { ThumbImage_Click(static_cast<int16_t>(i)); };
    item->index = 0;
    item->onClick = [this](int i) { ItemLab_Click(static_cast<int16_t>(i)); };
}

// ---------------------------------------------------------------- rows

void TestFrm::BuildDiskRows(int16_t rowCount) {
    for (int k = 1; k <= rowCount; ++k) {
        // A new element copies element 0 and starts hidden.
        ClickLabel* thumb0 = ThumbImage(0);
        auto* thumb = new ClickLabel(ScrollArea);
        thumb->setObjectName(QStringLiteral("ThumbImage_%1").arg(k));
        thumb->setProperty("picture", thumb0->property("picture"));
        thumb->setPixmap(thumb0->pixmap());
        PlaceTwips(thumb, TwipLeft(thumb0), TwipTop(thumb0), TwipWidth(thumb0), TwipHeight(thumb0));
        thumb->hide();
        thumb->index = k;
        thumb->onClick = [this](int i) { ThumbImage_Click(static_cast<int16_t>(i)); };
        ThumbImage.Add(thumb);

        QProgressBar* bar0 = ProgressBar(0);
        auto* bar = new QProgressBar(ScrollArea);
        bar->setObjectName(QStringLiteral("ProgressBar_%1").arg(k));
        bar->setRange(bar0->minimum(), bar0->maximum());
        bar->setTextVisible(false);
        PlaceTwips(bar, TwipLeft(bar0), TwipTop(bar0), TwipWidth(bar0), TwipHeight(bar0));
        bar->hide();
        ProgressBar.Add(bar);

        ClickLabel* item0 = ItemLab(0);
        auto* item = new ClickLabel(item0->text(), ScrollArea);
        item->setObjectName(QStringLiteral("ItemLab_%1").arg(k));
        item->setFont(item0->font());
        PlaceTwips(item, TwipLeft(item0), TwipTop(item0), TwipWidth(item0), TwipHeight(item0));
        item->hide();
        item->index = k;
        item->onClick = [this](int i) { ItemLab_Click(static_cast<int16_t>(i)); };
        ItemLab.Add(item);

        struct BoxArray {
            ControlArray<QLabel>* array;
            const char* name;
        };
        const BoxArray boxes[] = {{&LLG, "LLG"},     {&LLR, "LLR"},    {&FG, "FG"},
                                  {&FR, "FR"},       {&CCG, "CCG"},    {&CCR, "CCR"},
                                  {&CC1mG, "CC1mG"}, {&CC1mR, "CC1mR"}};
        for (const BoxArray& b : boxes) {
            QLabel* box0 = (*b.array)(0);
            QLabel* box =
                MakeResultBox(ScrollArea, b.name, box0->palette().color(QPalette::Window),
                              TwipLeft(box0), TwipTop(box0), TwipWidth(box0), TwipHeight(box0));
            box->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(b.name)).arg(k));
            box->setText(box0->text());
            b.array->Add(box);
        }

        // Each element one row step below the one before, read back from it.
        const double rowStep = 3.7 * TwipHeight(ItemLab(0));
        auto moveDown = [rowStep](QWidget* w, QWidget* above) {
            if (w == nullptr || above == nullptr) {
                return;
            }
            PlaceTwips(w, TwipLeft(above), TwipTop(above) + rowStep, TwipWidth(w), TwipHeight(w));
        };
        moveDown(ItemLab(k), ItemLab(k - 1));
        moveDown(ThumbImage(k), ThumbImage(k - 1));
        moveDown(ProgressBar(k), ProgressBar(k - 1));
        for (ControlArray<QLabel>* a : {&LLG, &LLR, &FG, &FR, &CCG, &CCR, &CC1mG, &CC1mR}) {
            moveDown((*a)(k), (*a)(k - 1));
        }
        SetCaption(ItemLab(k), QStringLiteral("Disk %1").arg(k));
    }
}

void TestFrm::ShowDiskRow(int16_t keepResults, int16_t row) {
    SetVisible(ItemLab(row), true);
    SetVisible(ThumbImage(row), true);
    if (keepResults != 0) {
        return;
    }
    SetVisible(LLG(row), false);
    SetVisible(LLR(row), false);
    SetCaption(LLG(row), QString());
    SetCaption(LLR(row), QString());
    SetVisible(FG(row), false);
    SetCaption(FG(row), QString());
    SetVisible(FR(row), false);
    SetCaption(FR(row), QString());
    SetVisible(CCG(row), false);
    SetVisible(CCR(row), false);
    SetCaption(CCG(row), QString());
    SetCaption(CCR(row), QString());
    SetCaption(CC1mG(row), QString());
    SetCaption(CC1mR(row), QString());
    SetVisible(CC1mG(row), false);
    SetVisible(CC1mR(row), false);
}

void TestFrm::ShowResultPair(QWidget* green, QWidget* red) {
    SetVisible(green, true);
    SetVisible(red, true);
}

void TestFrm::SetPicture(int row, int picture) {
    ClickLabel* thumb = ThumbImage(row);
    if (thumb == nullptr) {
        return;
    }
    thumb->setProperty("picture", picture);
    thumb->setPixmap(DrivePicture(picture));
}

int TestFrm::PictureOf(int row) const {
    const ClickLabel* thumb = ThumbImage(row);
    return thumb != nullptr ? thumb->property("picture").toInt() : 0;
}

std::optional<double> TestFrm::ProgressMax(int row) {
    const QProgressBar* bar = ProgressBar(row);
    if (bar == nullptr) {
        return std::nullopt;
    }
    return bar->maximum();
}

void TestFrm::AdvanceProgress(int row, int step) {
    QProgressBar* bar = ProgressBar(row);
    if (bar == nullptr) {
        return;
    }
    // A value beyond the bar's range is refused, and the statement skipped.
    const long long value = static_cast<long long>(bar->value()) + step;
    if (value < bar->minimum() || value > bar->maximum()) {
        return;
    }
    bar->setValue(static_cast<int>(value));
}

// ---------------------------------------------------------------- life cycle

StartupResult TestFrm::Form_Load() {
    StartupResult result;
    // The window procedure's role: notices arrive from here on, also during
    // the message boxes below.
    if (!deps_.noticeChannel.isEmpty()) {
        QPointer<TestFrm> self(this);
        NoticeListener listener =
            ListenForNotices(deps_.noticeChannel, [self](const QByteArray& bytes) {
                if (!self.isNull()) {
                    self->WndProc_CopyData(bytes);
                }
            });
        if (!listener.refusal.isEmpty()) {
            // Replies and notices would pass through a directory another
            // user controls: no run is trustworthy.
            ShowMessageBox(listener.refusal, kStyleStop, kWindowCaption);
            result.ok = false;
            result.reason = listener.refusal;
            return result;
        }
        if (listener.taken) {
            // Two stations on one channel would share one monitor's notices
            // and release each other's handles; the running one stays as is.
            const QString text =
                QStringLiteral("Another station is already running on the notice channel \"") +
                deps_.noticeChannel +
                QStringLiteral("\". Close it first, or start this one with its own channel: "
                               "set UFD_NOTICE_CHANNEL to another name.");
            ShowMessageBox(text, kStyleStop, kWindowCaption);
            result.ok = false;
            result.reason = text;
            return result;
        }
        if (!listener.receiver) {
            // Not fatal: a Clear still rediscovers; but the operator's
            // engineer should know why plugging in a drive shows nothing.
            qWarning("ufd-station: cannot listen on the notice channel \"%s\"; drives "
                     "that come or go are seen only after Clear",
                     qPrintable(deps_.noticeChannel));
        }
        noticeReceiver_ = std::move(listener.receiver);
    }
    if (!InitStation(result)) {
        return result;
    }
    const int started =
        deps_.startMonitor ? deps_.startMonitor(ProgramDirectory() + QStringLiteral("Vasket")) : 0;
    if (static_cast<int16_t>(started) < 32) {
        const QString text =
            QStringLiteral("Missing important file, please reinstall the software");
        ShowMessageBox(text, kStyleStop);
        result.ok = false;
        result.reason = text;
        return result;
    }
    PollingDiskStatus(kTrue);
    return result;
}

bool TestFrm::InitStation(StartupResult& result) {
    const int16_t r =
        deps_.readProductConfig ? deps_.readProductConfig(ctx_.Product) : kConfigUnreadable;
    if (r == kConfigSharesWrong || r == kConfigUnreadable) {
        const QString text = r == kConfigSharesWrong ? QStringLiteral("Partition Information error")
                                                     : QStringLiteral("Open Product.ini failed");
        ShowMessageBox(text, kStyleStop, kWindowCaption);
        result.ok = false;
        result.reason = text;
        return false;
    }
    const ProductConfig& p = ctx_.Product;
    VidPidLab->setText(QStringLiteral("VID = ") + p.Vid + QStringLiteral("  PID = ") + p.Pid);
    UsbStrLab->setText(QStringLiteral("USB String = ") + p.UsbManufactureString +
                       QStringLiteral("  ") + p.UsbProductString);
    ScsiStrLab->setText(QStringLiteral("SCSI String = ") + p.ScsiManufactureString +
                        QStringLiteral("  ") + p.ScsiProductString);

    if (p.ApMode != 1) {
        for (int i = 0; i < kItemCount; ++i) {
            SetEnabled(Check1(i), false);
            SetTicked(Check1(i), false);
        }
        switch (p.ApMode) {
        case 2:
            SetTicked(Check1(kItemFormat), true);
            break;
        case 3:
            SetTicked(Check1(kItemManufacture), true);
            SetTicked(Check1(kItemCheckConfig), true);
            break;
        case 4:
            SetTicked(Check1(kItemCheckConfig), true);
            break;
        case 5:
            SetTicked(Check1(kItemCheckWP), true);
            break;
        default:
            break;
        }
    }
    DiskLabContent->setText(p.DiskLabel);
    if (deps_.buildSectorTemplates) {
        deps_.buildSectorTemplates(ctx_);
    }
    BuildDiskRows(kShownRows);
    for (int16_t r0 = 0; r0 < kShownRows; ++r0) {
        ShowDiskRow(kTrue, r0);
    }
    return true;
}

void TestFrm::Form_Unload() {
    // Stop receiving notices; the monitor keeps running, handles stay open.
    noticeReceiver_.reset();
}

void TestFrm::closeEvent(QCloseEvent* event) {
    closing_ = true;
    Form_Unload();
    ctx_.progress = nullptr;
    QWidget::closeEvent(event);
}

void TestFrm::WndProc_CopyData(const QByteArray& bytes) {
    // Exactly the bytes sent: "IN" with a terminator is another notice.
    ctx_.DiskStatusFlag = FromAnsi(bytes) == QStringLiteral("IN") ? 1 : 3;
}

void TestFrm::Timer1_Timer() {
    if (closing_ || ctx_.TestRunning != kFalse || ctx_.ClearingReport != kFalse) {
        return;
    }
    if (ctx_.DiskStatusFlag == 1) {
        PollingDiskStatus(kTrue);
        ctx_.DiskStatusFlag = 2;
        SetEnabled(LedCmd, false);
    } else if (ctx_.DiskStatusFlag == 3) {
        PollingDiskStatus(kFalse);
        ctx_.DiskStatusFlag = 2;
        SetEnabled(LedCmd, false);
    }
}

// ---------------------------------------------------------------- discovery

void TestFrm::PollingDiskStatus(int16_t keepOpen) {
    Transport& t = *ctx_.transport;
    SlotTable& table = ctx_.slots;
    if (keepOpen == kFalse) {
        t.KillEXE();
        for (int n = 1; n <= table.DiskCount; ++n) {
            DiskSlot* slot = table.Slot(n);
            if (slot == nullptr) {
                continue;
            }
            t.CloseHandle(slot->Handle);
            slot->Handle = 0;
            slot->DeviceText.clear();
            SetPicture(n - 1, kPictureNoDrive);
        }
    }

    int next = 1;
    for (int32_t driveIndex = 0; driveIndex < kProbeCount; ++driveIndex) {
        const int32_t h = t.GetDiskHandle(driveIndex);
        if (h == 0) {
            continue;
        }
        // A handle that left no reply file must not be judged by the line
        // of the probe before it.
        ctx_.replies.DeviceLine.clear();
        ctx_.replies.ReadReplyLine(kDeviceLineSelector);
        const QString& line = ctx_.replies.DeviceLine;
        if (!line.contains(QStringLiteral("usbstor"), Qt::CaseInsensitive)) {
            // Not USB storage: the handle is a library resource, give it back.
            t.CloseHandle(h);
            continue;
        }
        if (next > kMaxSlots) {
            // A seventeenth drive has no slot to go to.
            t.CloseHandle(h);
            continue;
        }
        DiskSlot& found = table.FoundSlots[static_cast<size_t>(next - 1)];
        found.Handle = h;
        found.DeviceText = line;
        ++next;
    }

    const int found = next - 1;
    for (int n = 1; n <= found; ++n) {
        DiskSlot& slot = table.DiskSlots[static_cast<size_t>(n - 1)];
        const DiskSlot& source = table.FoundSlots[static_cast<size_t>(n - 1)];
        // A handle that is being replaced would otherwise stay open in the
        // library for good.
        if (slot.Handle != 0 && slot.Handle != source.Handle) {
            bool stillUsed = false;
            for (int m = 1; m <= found; ++m) {
                stillUsed =
                    stillUsed || table.FoundSlots[static_cast<size_t>(m - 1)].Handle == slot.Handle;
            }
            if (!stillUsed) {
                t.CloseHandle(slot.Handle);
            }
        }
        slot.Handle = source.Handle;
        slot.DeviceText = source.DeviceText;
        slot.Status = 0;
        SetPicture(n - 1, kPictureAttached);
    }
    table.DiskCount = static_cast<int16_t>(found);

    if (table.DiskCount == 0) {
        GoCmd->setEnabled(false);
    } else if (!ClearCmd->isEnabled()) {
        GoCmd->setEnabled(true);
    }
}

// ---------------------------------------------------------------- test run

namespace {

// The detail text of a failed Format.
QString StatusText(int16_t status) {
    if (status == 255) {
        return QStringLiteral("Read or Write failed");
    }
    if (status == 254) {
        return QStringLiteral("Error Status = ") + QStringLiteral("Missing Handle");
    }
    return QStringLiteral("Error Status = ") + HexPad(status, 2, false);
}

} // namespace

void TestFrm::GoCmd_Click() {
    QPointer<TestFrm> self(this);
    // Everything the run needs after a wait is taken from here, not from
    // the window, which may be gone by then.
    StationContext& ctx = ctx_;
    DeviceProcedures dev = deps_.device;
    // A copy: the window, and its own copy, may be deleted inside the wait.
    const std::function<void(float)> waitFor = deps_.wait;
    auto Wait = [&waitFor](float seconds) {
        if (waitFor) {
            waitFor(seconds);
        }
    };
    SlotTable& table = ctx.slots;

    ctx.TestRunning = kTrue;
    GoCmd->setEnabled(false);
    ClearCmd->setEnabled(false);
    LedCmd->setEnabled(false);
    bool runFailed = false;

    bool anyTicked = false;
    for (int i = 0; i < kItemCount; ++i) {
        anyTicked = anyTicked || Ticked(Check1(i));
    }
    if (!anyTicked) {
        ShowMessageBox(QStringLiteral("No items checked"), kStyleExclamation);
        if (!WindowAlive(self)) {
            ctx.TestRunning = kFalse;
            return;
        }
        GoCmd->setEnabled(true);
        GoCmd->setFocus();
        ctx.TestRunning = kFalse;
        return;
    }

    PassLab->hide();
    PassLab->lower();
    for (int16_t r = 0; r < kShownRows; ++r) {
        ShowDiskRow(kFalse, r);
    }

    // The window may close inside any wait or device call; from then on the
    // run ends without touching it.
    auto gone = [&self, &ctx] {
        if (WindowAlive(self)) {
            return false;
        }
        ctx.TestRunning = kFalse;
        return true;
    };

    QString mark;
    QString detail;
    if (Ticked(Check1(kItemFormat))) {
        for (int i = 0; i < table.DiskCount; ++i) {
            DiskSlot& slot = table.DiskSlots[static_cast<size_t>(i)];
            const auto n = static_cast<int16_t>(i + 1);
            slot.Status = 0;
            Wait(0.1F);
            if (gone()) {
                return;
            }
            if (QProgressBar* bar = ProgressBar(i)) {
                bar->setValue(0);
                bar->show();
            }
            slot.ControllerCode = 0;
            if (dev.ScanChips) {
                dev.ScanChips(ctx, n);
            }
            if (gone()) {
                return;
            }
            if (slot.Status == 0 && dev.LowLevelFormat) {
                dev.LowLevelFormat(ctx, n);
                if (gone()) {
                    return;
                }
            }
            if (QProgressBar* bar = ProgressBar(i)) {
                bar->setValue(bar->maximum());
                bar->hide();
            }
            ShowResultPair(FG(i), FR(i));
            if (slot.Status != 0) {
                SetPicture(i, kPictureFailed);
                mark = QStringLiteral("X");
                detail = StatusText(slot.Status);
                runFailed = true;
            } else {
                mark = QStringLiteral("V");
                const double mb = std::nearbyint(slot.LastSector / 2000.0);
                // A size beyond the small integer cannot be assigned; that
                // statement is skipped and the detail stays as it was.
                if (mb >= std::numeric_limits<int16_t>::min() &&
                    mb <= std::numeric_limits<int16_t>::max()) {
                    detail = QString::number(slot.ChipCount) + QStringLiteral(" Chip(s)   ") +
                             QString::number(static_cast<int16_t>(mb)) + QStringLiteral(" MB");
                }
            }
            SetCaption(FG(i), mark);
            SetCaption(FR(i), detail);
        }
    }
    Wait(0.5F);
    if (gone()) {
        return;
    }

    if (Ticked(Check1(kItemManufacture))) {
        QString stringMark;
        QString writeMark;
        for (int i = 0; i < table.DiskCount; ++i) {
            ShowResultPair(LLG(i), LLR(i));
            const int16_t r =
                dev.WriteIdentity ? dev.WriteIdentity(ctx, static_cast<int16_t>(i + 1), kTrue) : 0;
            if (gone()) {
                return;
            }
            if (r == 1) {
                stringMark = QStringLiteral("V");
                writeMark = QStringLiteral("V");
            } else if (r == 2) {
                stringMark = QStringLiteral("X");
                writeMark = QStringLiteral("X");
                SetPicture(i, kPictureFailed);
                runFailed = true;
            } else if (r == 0) {
                stringMark = QStringLiteral("V");
                writeMark = QStringLiteral("X");
                SetPicture(i, kPictureFailed);
                runFailed = true;
            }
            SetCaption(LLG(i), QStringLiteral("String = ") + stringMark);
            SetCaption(LLR(i), QStringLiteral("Write = ") + writeMark);
        }
    }
    Wait(0.1F);
    if (gone()) {
        return;
    }

    if (Ticked(Check1(kItem1M))) {
        for (int i = 0; i < table.DiskCount; ++i) {
            ShowResultPair(CC1mG(i), CC1mR(i));
        }
    }

    if (Ticked(Check1(kItemCheckConfig))) {
        for (int i = 0; i < table.DiskCount; ++i) {
            ShowResultPair(CC1mG(i), CC1mR(i));
            const auto n = static_cast<int16_t>(i + 1);
            const int16_t r = dev.CheckIdentity ? dev.CheckIdentity(ctx, n) : 0;
            if (gone()) {
                return;
            }
            if (r == 2) {
                mark = QStringLiteral("V");
                detail.clear();
            } else {
                runFailed = true;
                SetPicture(i, kPictureFailed);
                mark = QStringLiteral("X");
                detail = QStringLiteral("Error Status = ") +
                         HexPad(table.DiskSlots[static_cast<size_t>(i)].Status, 2, false);
            }
            SetCaption(CC1mG(i), mark);
            SetCaption(CC1mR(i), detail);
        }
    }

    if (Ticked(Check1(kItemCheckWP))) {
        for (int i = 0; i < table.DiskCount; ++i) {
            ShowResultPair(CCG(i), CCR(i));
            const auto n = static_cast<int16_t>(i + 1);
            const int16_t r = dev.CheckWriteProtect ? dev.CheckWriteProtect(ctx, n) : 0;
            if (gone()) {
                return;
            }
            if (r == 0) {
                SetVisible(CCG(i), false);
                SetCaption(CCR(i), QStringLiteral("Not Write Protected"));
                runFailed = true;
                SetPicture(i, kPictureFailed);
            } else {
                SetVisible(CCR(i), false);
                SetCaption(CCG(i), QStringLiteral("Write Protected"));
            }
        }
    }

    PassLab->show();
    for (int i = 0; i < table.DiskCount; ++i) {
        if (table.DiskSlots[static_cast<size_t>(i)].Status == 0) {
            SetPicture(i, kPicturePassed);
            if (ClickLabel* thumb = ThumbImage(i)) {
                thumb->repaint();
            }
        }
    }
    PassLab->raise();
    PassLab->setText(runFailed ? kFailed : kAllPass);
    PassLab->show();
    PassLab->raise();

    if (Ticked(Ch)) {
        for (int i = 0; i < table.DiskCount; ++i) {
            if (table.DiskSlots[static_cast<size_t>(i)].Status == 0) {
                continue;
            }
            for (int b = 0; b < 5; ++b) {
                Beep();
                Wait(0.1F);
                if (gone()) {
                    return;
                }
            }
        }
    }

    ClearCmd->setEnabled(true);
    for (int n = 1; n <= table.DiskCount; ++n) {
        if (table.DiskSlots[static_cast<size_t>(n - 1)].Status != 0) {
            LedCmd->setEnabled(true);
            break;
        }
    }
    ctx.TestRunning = kFalse;
    ClearCmd->setFocus();
}

// ---------------------------------------------------------------- items, clearing

void TestFrm::Check1_Click(int16_t index) {
    if (!Ticked(Check1(index))) {
        return;
    }
    if (index == kItemCheckWP) {
        for (int i : {kItemFormat, kItemManufacture, kItem1M, kItemCheckConfig}) {
            SetTicked(Check1(i), false);
        }
    } else {
        SetTicked(Check1(kItemCheckWP), false);
    }
}

void TestFrm::ClearCmd_Click() {
    QPointer<TestFrm> self(this);
    StationContext& ctx = ctx_;
    ctx.ClearingReport = kTrue;
    PassLab->hide();
    PassLab->lower();
    const int answer =
        ShowMessageBox(QStringLiteral("This action will clear the test report, Do you want to "
                                      "continue ?"),
                       kStyleYesNoInfo, QStringLiteral("Clear Report"));
    if (!WindowAlive(self) || answer != kAnswerYes) {
        ctx.ClearingReport = kFalse;
        return;
    }
    for (int16_t r = 0; r < kShownRows; ++r) {
        ShowDiskRow(kFalse, r);
    }
    if (ctx.slots.DiskCount != 0) {
        GoCmd->setEnabled(true);
        GoCmd->setFocus();
    }
    ClearCmd->setEnabled(false);
    LedCmd->setEnabled(false);
    PollingDiskStatus(kTrue);
    ctx.ClearingReport = kFalse;
}

// ---------------------------------------------------------------- LED flashing

void TestFrm::LedCmd_Click() {
    QPointer<TestFrm> self(this);
    StationContext& ctx = ctx_;
    auto pump = deps_.pumpEvents;
    for (int pass = 1; pass <= kLedPasses; ++pass) {
        for (int n = 1; n <= ctx.slots.DiskCount; ++n) {
            const DiskSlot& slot = ctx.slots.DiskSlots[static_cast<size_t>(n - 1)];
            if (slot.Status != 0) {
                ctx.transport->Read(slot.Handle, 75, 0);
            }
        }
        if (pump) {
            pump();
        }
        if (!WindowAlive(self) || !LedCmd->isEnabled()) {
            return;
        }
    }
}

void TestFrm::FlashSlot(int recordIndex) {
    if (!LedCmd->isEnabled()) {
        return;
    }
    // The row is not compared with DiskCount: the record is read as it
    // stands; a row without a record is a skipped statement.
    if (recordIndex < 0 || recordIndex >= kMaxSlots) {
        return;
    }
    QPointer<TestFrm> self(this);
    StationContext& ctx = ctx_;
    auto pump = deps_.pumpEvents;
    if (ctx.slots.DiskSlots[static_cast<size_t>(recordIndex)].Status == 0) {
        return;
    }
    for (int pass = 1; pass <= kLedPasses; ++pass) {
        ctx.transport->Read(ctx.slots.DiskSlots[static_cast<size_t>(recordIndex)].Handle, 75, 0);
        if (pump) {
            pump();
        }
        if (!WindowAlive(self) || !LedCmd->isEnabled()) {
            return;
        }
    }
}

void TestFrm::ItemLab_Click(int16_t index) {
    FlashSlot(index);
}
void TestFrm::ThumbImage_Click(int16_t index) {
    FlashSlot(index);
}

} // namespace ufd
