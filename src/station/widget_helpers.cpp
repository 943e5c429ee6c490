#include "station/widget_helpers.h"

#include "station/station_form.h"
#include "station/twips.h"

#include <QPalette>

namespace ufd {

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

QString ButtonText(const QString& caption) {
    QString text = caption;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

} // namespace ufd
