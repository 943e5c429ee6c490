// [Window] Rows with real widgets: every slot of a full rack on screen, all
// rows inside the row area and apart, the window on a 1366 x 768 screen, and
// the batch report printing the rows the window shows.
#include "station/batch.h"
#include "station/test_frm.h"
#include "station/twips.h"
#include "support/recording_transport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace ufd {
namespace {

// The smallest screen a line PC has, less a title bar and a panel.
constexpr int kScreenWidth = 1366;
constexpr int kScreenHeight = 768 - 80;

class WindowRows : public ::testing::Test {
protected:
    // Sixteen USB drives at indexes 0..15, every item passing.
    void Load(int rows) {
        transport.script = [](const test::Call& c) {
            if (c.fn != "GetDiskHandle") {
                return test::Answer{};
            }
            const auto i = static_cast<uint16_t>(c.args[0]);
            return i < kMaxSlots ? test::Answer{static_cast<uint16_t>(100 + i),
                                                "USB\\VID_1234&PID_5678\\USBSTOR\\Disk\r\n"}
                                 : test::Answer{0, {}};
        };
        ctx.replies = files;
        ctx.Settings.WindowRows = rows;
        StationDependencies d;
        d.readProductConfig = [](ProductConfig& p) {
            p = {"EF", "GH", "1234", "5678", "AB", "CD", 0, 0, 1, "LABEL"};
            return kConfigGood;
        };
        d.startMonitor = [](const QString&) { return 33; };
        d.device.WriteIdentity = [](StationContext&, int16_t, int16_t) { return int16_t{1}; };
        d.device.CheckIdentity = [](StationContext&, int16_t) { return int16_t{2}; };
        frm = std::make_unique<TestFrm>(ctx, d);
        ASSERT_TRUE(frm->Form_Load().ok);
        ASSERT_EQ(ctx.slots.DiskCount, kMaxSlots);
    }

    // Everything of row r, where it sits in the row area.
    QRect RowRect(int r) const {
        QRect rect = frm->ThumbImage(r)->geometry() | frm->ItemLab(r)->geometry() |
                     frm->ProgressBar(r)->geometry();
        for (auto* a : {&frm->FG, &frm->FR, &frm->LLG, &frm->LLR, &frm->CC1mG, &frm->CC1mR,
                        &frm->CCG, &frm->CCR}) {
            rect |= (*a)(r)->geometry();
        }
        return rect;
    }

    QTemporaryDir dir;
    ReplyFiles files{dir.filePath("q.txt").toStdString(), dir.filePath("q.bin").toStdString()};
    test::RecordingTransport transport{files};
    StationContext ctx{transport};
    std::unique_ptr<TestFrm> frm;
};

TEST_F(WindowRows, EveryRowShownWholeAndApartOnOneScreen) {
    for (int rows : {7, 8, 9, 12, 16}) {
        SCOPED_TRACE(rows);
        Load(rows);
        frm->GoCmd_Click();
        ASSERT_EQ(frm->PassLab->text(), kAllPass);
        EXPECT_LE(frm->width(), kScreenWidth);
        EXPECT_LE(frm->height(), kScreenHeight);
        const QRect area = frm->ScrollArea->rect();
        for (int r = 0; r < kMaxSlots; ++r) {
            SCOPED_TRACE(r);
            const bool shown = r < rows;
            EXPECT_EQ(IsShown(frm->ItemLab(r)), shown);
            EXPECT_EQ(IsShown(frm->ThumbImage(r)), shown);
            EXPECT_EQ(IsShown(frm->FG(r)) && IsShown(frm->CC1mR(r)), r <= rows);
            if (!shown) {
                continue;
            }
            EXPECT_EQ(frm->ItemLab(r)->text(), QString("Disk %1").arg(r));
            EXPECT_TRUE(area.contains(RowRect(r)));
            for (int other = 0; other < r; ++other) {
                EXPECT_FALSE(RowRect(r).intersects(RowRect(other))) << "overlaps row " << other;
            }
        }
        // One hidden row past the shown ones, as the design has.
        ASSERT_NE(frm->ItemLab(rows), nullptr);
        EXPECT_FALSE(IsShown(frm->ItemLab(rows)));
        // Nothing else of the window lies on the rows.
        for (QWidget* w : {static_cast<QWidget*>(frm->Frame1), static_cast<QWidget*>(frm->GoCmd),
                           static_cast<QWidget*>(frm->LedCmd), static_cast<QWidget*>(frm->Image1),
                           static_cast<QWidget*>(frm->UsbStrLab)}) {
            EXPECT_FALSE(w->geometry().intersects(frm->ScrollArea->geometry()))
                << w->objectName().toStdString();
            EXPECT_TRUE(frm->rect().contains(w->geometry())) << w->objectName().toStdString();
        }
        // The batch report: a row per slot as the window shows it.
        const QString report = BatchReport(*frm);
        EXPECT_EQ(report.count("Disk "), std::min(rows, kMaxSlots)) << report.toStdString();
        EXPECT_EQ(report.count("(hidden row)"), rows < kMaxSlots ? 1 : 0);
        EXPECT_EQ(report.count("(no row)"), std::max(0, kMaxSlots - rows - 1));
    }
}

TEST_F(WindowRows, SevenIsTheDesignWindow) {
    Load(7);
    EXPECT_EQ(frm->size(), QSize(TwipsToPixels(9945), TwipsToPixels(7695)));
    EXPECT_EQ(frm->ScrollArea->geometry(), QRect(4, 32, 535, 451));
    EXPECT_DOUBLE_EQ(TwipLeft(frm->GoCmd), 8258);
    EXPECT_DOUBLE_EQ(TwipTop(frm->ItemLab(7)), 7264.5);
    EXPECT_EQ(frm->findChild<QLabel*>("Function1Lab_2"), nullptr);
}

} // namespace
} // namespace ufd
