#include "station/station_language.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace ufd {

namespace {

QLocale LocaleOf(const QString& setting) {
    return setting.isEmpty() ? QLocale::system() : QLocale(setting);
}

// Built in by qt_add_translations; a language without one stays English
// (null).
std::unique_ptr<QTranslator> StationTranslator(const QString& setting) {
    if (setting == QLatin1String("en")) {
        return nullptr;
    }
    auto station = std::make_unique<QTranslator>();
    if (!station->load(LocaleOf(setting), QStringLiteral("ufd"), QStringLiteral("_"),
                       QStringLiteral(":/i18n"))) {
        return nullptr;
    }
    return station;
}

} // namespace

QString InstallStationLanguage(const QString& setting) {
    std::unique_ptr<QTranslator> loaded = StationTranslator(setting);
    if (!loaded) {
        return QStringLiteral("en");
    }
    QTranslator* station = loaded.release();
    station->setParent(QCoreApplication::instance());
    QCoreApplication::installTranslator(station);
    // Qt's own words (Yes, No, OK in the message boxes) where Qt ships them.
    auto* qt = new QTranslator(QCoreApplication::instance());
    if (qt->load(LocaleOf(setting), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt);
    } else {
        delete qt;
    }
    return station->language();
}

QString TranslateBeforeStart(const QString& setting, const char* context, const char* english) {
    const std::unique_ptr<QTranslator> station = StationTranslator(setting);
    const QString shown = station ? station->translate(context, english) : QString();
    return shown.isEmpty() ? QString::fromUtf8(english) : shown;
}

} // namespace ufd
