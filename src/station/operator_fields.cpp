#include "station/operator_fields.h"

#include "station/run_recorder.h"
#include "station/station_language.h"
#include "station/test_frm.h"
#include "station/twips.h"

#include <QLineEdit>
#include <QSettings>

namespace ufd {

namespace {

// The user's own settings ($XDG_CONFIG_HOME/ufd-station/window.ini): each
// operator login keeps its name, and station.conf stays read-only.
QSettings Remembered() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ufd-station"),
                     QStringLiteral("window"));
}

QLineEdit* Field(TestFrm& frm, const char* name, const QString& hint, double top,
                 const QString& text) {
    // In the items' frame, where the hidden "1M" box leaves room.
    auto* field = new QLineEdit(text, frm.Frame1);
    field->setObjectName(QString::fromLatin1(name));
    field->setPlaceholderText(hint);
    field->setToolTip(hint);
    field->setFont(SansFont(8.25));
    PlaceTwips(field, 150, top, 1245, 270);
    field->show();
    return field;
}

} // namespace

void AddOperatorFields(TestFrm& frm, RunRecorder& recorder,
                       const std::optional<QString>& operatorName,
                       const std::optional<QString>& lot) {
    QSettings settings = Remembered();
    QLineEdit* who = Field(frm, "OperatorText", QCoreApplication::translate("TestFrm", "Operator"),
                           1530, operatorName.value_or(settings.value("Operator").toString()));
    QLineEdit* what = Field(frm, "LotText", QCoreApplication::translate("TestFrm", "Lot"), 1830,
                            lot.value_or(settings.value("Lot").toString()));
    const auto keep = [who, what, &recorder] {
        recorder.SetOperatorLot(who->text().trimmed(), what->text().trimmed());
        QSettings s = Remembered();
        s.setValue("Operator", who->text().trimmed());
        s.setValue("Lot", what->text().trimmed());
    };
    keep();
    QObject::connect(who, &QLineEdit::textChanged, who, keep);
    QObject::connect(what, &QLineEdit::textChanged, what, keep);
}

} // namespace ufd
