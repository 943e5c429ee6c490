// The window design: the caption face, the fixed controls and row 0 as
// designed, and the window's timer.
#include "station/station_form.h"

#include "station/check_square_style.h"
#include "station/drive_pictures.h"
#include "station/station_language.h"
#include "station/twips.h"
#include "station/widget_helpers.h"
#include "station/window_rows.h"

#include <QFont>
#include <QFontDatabase>
#include <QPalette>

namespace ufd {

// The design's captions were fitted to a narrow bitmap sans. Common sans
// faces clip them, and even a face with Arial's widths clips two check box
// captions by a pixel or two; one with Arial Narrow's widths leaves room.
QFont SansFont(double points, bool bold) {
    // Asked once: every result box asks, and each answer is a font
    // configuration search.
    static const bool narrow = QFontDatabase::hasFamily(kCaptionFamily);
    QFont f =
        narrow ? QFont(kCaptionFamily) : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

bool WindowAlive(const QPointer<TestFrm>& self) {
    return !self.isNull() && !self->Closing();
}

TestFrm::TestFrm(StationContext& ctx, StationDependencies deps, QWidget* parent)
    : QWidget(parent), ctx_(ctx), deps_(std::move(deps)) {
    setObjectName(QStringLiteral("TestFrm"));
    setWindowTitle(TrStation(kWindowCaption));
    setFont(SansFont(8.25));
    setFixedSize(TwipsToPixels(9945), TwipsToPixels(7695));
    BuildDesign();
    rows_ = RowLayoutFor(ctx_.Settings.WindowRows, 3.7 * TwipHeight(ItemLab(0)));
    WidenForRows(*this, rows_);
    sockets_ = SocketRows(ctx_.Settings, rows_.shown);
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
        {&Function1Lab, "Function1Lab", QT_TRANSLATE_NOOP("TestFrm", "Format"), 990, 1635},
        {&Function2Lab, "Function2Lab", QT_TRANSLATE_NOOP("TestFrm", "Config String"), 2610, 1845},
        {&function3Lab, "function3Lab", QT_TRANSLATE_NOOP("TestFrm", "Check Config"), 4440, 1875},
        {&Label1, "Label1", QT_TRANSLATE_NOOP("TestFrm", "Check WP"), 6300, 1755},
    };
    for (const Header& h : headers) {
        QLabel* label = MakeLabel(this, h.name, QCoreApplication::translate("TestFrm", h.caption),
                                  h.left, 180, h.width, 315);
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

    PassLab = new QLabel(QCoreApplication::translate("TestFrm", "ALL PASS"), ScrollArea);
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

    Frame1 = new QGroupBox(QCoreApplication::translate("TestFrm", "Setting"), this);
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
        {QT_TRANSLATE_NOOP("TestFrm", "Format"), 300, 1185, 255, true, true, true},
        {QT_TRANSLATE_NOOP("TestFrm", "Manufacture"), 630, 1275, 255, true, true, true},
        {QT_TRANSLATE_NOOP("TestFrm", "1M"), 1740, 1065, 255, false, false, false},
        {QT_TRANSLATE_NOOP("TestFrm", "Check Config"), 960, 1275, 255, true, true, true},
        {QT_TRANSLATE_NOOP("TestFrm", "Check WP"), 1290, 1215, 195, false, true, true},
    };
    auto* checkStyle = new CheckSquareStyle;
    checkStyle->setParent(this);
    for (int i = 0; i < kItemCount; ++i) {
        auto* box = new QCheckBox(QCoreApplication::translate("TestFrm", items[i].caption), Frame1);
        box->setStyle(checkStyle);
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
    Ch = new QCheckBox(QCoreApplication::translate("TestFrm", "Enable Beep"), Frame1);
    Ch->setObjectName(QStringLiteral("Ch"));
    Ch->setStyle(checkStyle);
    PlaceTwips(Ch, 150, 2130, 1215, 255);

    TextDiskLab = MakeLabel(this, "TextDiskLab", QCoreApplication::translate("TestFrm", "Disk Lab"),
                            8130, 4170, 645, 195);
    DiskLabContent = MakeLabel(this, "DiskLabContent", QString(), 8820, 4170, 1095, 195);
    SetTextColour(DiskLabContent, QColor(0, 0, 255));

    GoCmd = new QPushButton(ButtonText(TrStation(kStartCaption)), this);
    GoCmd->setObjectName(QStringLiteral("GoCmd"));
    PlaceTwips(GoCmd, 8258, 5340, 1485, 315);
    ClearCmd = new QPushButton(ButtonText(TrStation(kClearCaption)), this);
    ClearCmd->setObjectName(QStringLiteral("ClearCmd"));
    PlaceTwips(ClearCmd, 8258, 5895, 1485, 315);
    LedCmd = new QPushButton(ButtonText(TrStation(kLedCaption)), this);
    LedCmd->setObjectName(QStringLiteral("LedCmd"));
    PlaceTwips(LedCmd, 8258, 6450, 1485, 615);
    for (QPushButton* b : {GoCmd, ClearCmd, LedCmd}) {
        b->setEnabled(false);
        // Enter and Return press the focused button, as on the line PC's
        // own desktop; the run hands the focus to the button to press next.
        b->setAutoDefault(true);
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
    SetRowLabel(0, item->text());

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

} // namespace ufd
