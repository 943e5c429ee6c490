#include "station/station_language.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace ufd {

QString InstallStationLanguage(const QString& setting) {
    if (setting == QLatin1String("en")) {
        return setting;
    }
    const QLocale locale = setting.isEmpty() ? QLocale::system() : QLocale(setting);
    // Built in by qt_add_translations; a language without one stays English.
    auto* station = new QTranslator(QCoreApplication::instance());
    if (!station->load(locale, QStringLiteral("ufd"), QStringLiteral("_"),
                       QStringLiteral(":/i18n"))) {
        delete station;
        return QStringLiteral("en");
    }
    QCoreApplication::installTranslator(station);
    // Qt's own words (Yes, No, OK in the message boxes) where Qt ships them.
    auto* qt = new QTranslator(QCoreApplication::instance());
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt);
    } else {
        delete qt;
    }
    return station->language();
}

} // namespace ufd
