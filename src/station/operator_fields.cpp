#include "station/operator_fields.h"

#include "station/run_recorder.h"
#include "station/station_form.h"
#include "station/station_language.h"
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

QString OperatorLotMissing(const QString& operatorName, const QString& lot) {
    if (!operatorName.trimmed().isEmpty() && !lot.trimmed().isEmpty()) {
        return {};
    }
    return QCoreApplication::translate("TestFrm",
                                       "Start waits for the operator's name and the lot: "
                                       "station.conf has [Records] RequireOperatorLot=true");
}

void AddOperatorFields(TestFrm& frm, RunRecorder& recorder,
                       const std::optional<QString>& operatorName,
                       const std::optional<QString>& lot, bool remember, bool require) {
    QSettings settings = Remembered();
    auto start = [&](const std::optional<QString>& given, const char* key) {
        return given.value_or(remember ? settings.value(key).toString() : QString());
    };
    QLineEdit* who = Field(frm, "OperatorText", QCoreApplication::translate("TestFrm", "Operator"),
                           1530, start(operatorName, "Operator"));
    QLineEdit* what = Field(frm, "LotText", QCoreApplication::translate("TestFrm", "Lot"), 1830,
                            start(lot, "Lot"));
    const auto keep = [who, what, &recorder, &frm, remember, require] {
        recorder.SetOperatorLot(who->text().trimmed(), what->text().trimmed());
        if (require) {
            frm.RefuseStart(OperatorLotMissing(who->text(), what->text()));
        }
        if (!remember) {
            return;
        }
        QSettings s = Remembered();
        s.setValue("Operator", who->text().trimmed());
        s.setValue("Lot", what->text().trimmed());
    };
    keep();
    QObject::connect(who, &QLineEdit::textChanged, who, keep);
    QObject::connect(what, &QLineEdit::textChanged, what, keep);
}

} // namespace ufd
