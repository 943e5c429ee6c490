// The window's captions in every shipped language: each text fits the
// control it stands in (measured in the control's own font against the room
// its style leaves for text), and the translation is really in effect; the
// reasons in words the window shows are the table's, each translated.
#include "platform/message_box.h"
#include "results/status_reasons.h"
#include "station/station_form.h"
#include "station/station_language.h"
#include "support/recording_transport.h"
#include "support/test_common.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>

namespace ufd {
namespace {

// The widest line of a caption, its mnemonic marker not drawn.
int Widest(const QFontMetrics& fm, QString text) {
    text.remove(QRegularExpression("&(?=[^&])"));
    int widest = 0;
    for (const QString& line : text.split(QRegularExpression("\r?\n"))) {
        widest = std::max(widest, fm.horizontalAdvance(line));
    }
    return widest;
}

// Every caption that does not fit: "text (needs N px, has M)".
QStringList Clipped(TestFrm& frm) {
    QStringList out;
    const auto check = [&](const QWidget* w, const QString& text, int room) {
        const int needs = Widest(w->fontMetrics(), text);
        if (!text.isEmpty() && needs > room) {
            out << QString("%1 \"%2\" (needs %3 px, has %4)")
                       .arg(w->objectName(), text)
                       .arg(needs)
                       .arg(room);
        }
    };
    for (QLabel* l : frm.findChildren<QLabel*>()) {
        if (l->isVisibleTo(&frm) && !l->wordWrap()) {
            check(l, l->text(), l->contentsRect().width());
        }
    }
    for (QAbstractButton* b : frm.findChildren<QAbstractButton*>()) {
        if (!b->isVisibleTo(&frm)) {
            continue;
        }
        QStyleOptionButton option;
        option.initFrom(b);
        option.text = b->text();
        const bool box = qobject_cast<QCheckBox*>(b) != nullptr;
        const QRect room = b->style()->subElementRect(
            box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, b);
        check(b, b->text(), room.width());
    }
    for (QGroupBox* g : frm.findChildren<QGroupBox*>()) {
        check(g, g->title(), g->width());
    }
    // The verdicts, which only a run shows.
    for (const QString& verdict : {kAllPass, kFailed}) {
        check(frm.PassLab, TrStation(verdict), frm.PassLab->contentsRect().width());
    }
    return out;
}

TEST(Captions, FitTheirControlsInEveryLanguage) {
    SetMessageBoxHandler([](const MessageBoxRequest& r) {
        ADD_FAILURE() << "box: " << r.text.toStdString();
        return kAnswerOk;
    });
    // English first: it needs no translator, and one installed stays.
    for (const char* language : kStationLanguages) {
        SCOPED_TRACE(language);
        EXPECT_EQ(InstallStationLanguage(language), language);
        test::RecordingTransport transport;
        StationContext ctx(transport);
        ctx.replies = transport.files;
        StationDependencies d;
        d.startMonitor = [](const QString&) { return 33; };
        d.readProductConfig = [](ProductConfig& p) {
            return ReadProductConfig(p, UFD_SOURCE_DIR "/examples/Product.ini");
        };
        TestFrm frm(ctx, d);
        ASSERT_TRUE(frm.Form_Load().ok);
        frm.show();
        EXPECT_EQ(frm.GoCmd->text() == "Start (&S)", std::string(language) == "en")
            << frm.GoCmd->text().toStdString();
        const QStringList clipped = Clipped(frm);
        EXPECT_TRUE(clipped.isEmpty()) << clipped.join('\n').toStdString();
    }
    SetMessageBoxHandler({});
}

TEST(Reasons, TheWindowsAreTheTablesWordsEachTranslated) {
    ASSERT_EQ(InstallStationLanguage("zh_CN"), "zh_CN");
    for (const StatusCode& r : kStatusCodes) {
        const QString shown = TrStatusReason(r.number);
        EXPECT_TRUE(!shown.isEmpty() && shown != QString::fromUtf8(r.reason)) << r.reason;
    }
    EXPECT_EQ(TrStatusReason(0), "");
}

} // namespace
} // namespace ufd
