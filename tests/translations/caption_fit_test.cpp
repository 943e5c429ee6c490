// The window's captions in every shipped language: each text fits the
// control it stands in (measured in the control's own font against the room
// its style leaves for text), and the translation is really in effect.
#include "station/station_form.h"
#include "station/station_language.h"
#include "support/station_window.h"

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
    // Wide and tall enough: a caption cut at the bottom is as unreadable.
    const auto check = [&](const QWidget* w, const QString& text, QSize room) {
        const QSize needs(Widest(w->fontMetrics(), text),
                          w->fontMetrics().height() * int(text.count('\n') + 1));
        if (!text.isEmpty() && needs.boundedTo(room) != needs) {
            out << QString("%1 \"%2\" (needs %3x%4 px, has %5x%6)")
                       .arg(w->objectName(), text)
                       .arg(needs.width())
                       .arg(needs.height())
                       .arg(room.width())
                       .arg(room.height());
        }
    };
    for (QLabel* l : frm.findChildren<QLabel*>()) {
        if (l->isVisibleTo(&frm) && !l->wordWrap()) {
            check(l, l->text(), l->contentsRect().size());
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
        const auto sub = [&](QStyle::SubElement e) {
            return b->style()->subElementRect(e, &option, b);
        };
        check(b, b->text(),
              sub(box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents).size());
        if (box && !b->rect().contains(sub(QStyle::SE_CheckBoxIndicator))) {
            out << b->objectName() + ": its square sticks out";
        }
    }
    for (QGroupBox* g : frm.findChildren<QGroupBox*>()) {
        check(g, g->title(), g->size());
    }
    // The verdicts and the longest texts a run writes, which only a run shows.
    for (const QString& verdict : {kAllPass, kFailed}) {
        check(frm.PassLab, TrStation(verdict), frm.PassLab->contentsRect().size());
    }
    const std::pair<QLabel*, QString> run[] = {{frm.FR(0), "4 Chip(s)   1000 MB"},
                                               {frm.CC1mR(0), "Error Status = F4"},
                                               {frm.CCR(0), "Not Write Protected"}};
    for (const auto& [box, text] : run) {
        check(box, text, box->contentsRect().size());
    }
    return out;
}

TEST(Captions, FitTheirControlsInEveryLanguage) {
    // English first: it needs no translator, and one installed stays.
    for (const char* language : kStationLanguages) {
        SCOPED_TRACE(language);
        EXPECT_EQ(InstallStationLanguage(language), language);
        test::RecordedWindow window;
        ASSERT_TRUE(window.loaded);
        TestFrm& frm = *window.frm;
        frm.show();
        EXPECT_EQ(frm.GoCmd->text() == "Start (&S)", std::string(language) == "en")
            << frm.GoCmd->text().toStdString();
        const QStringList clipped = Clipped(frm);
        EXPECT_TRUE(clipped.isEmpty()) << clipped.join('\n').toStdString();
    }
}

} // namespace
} // namespace ufd
