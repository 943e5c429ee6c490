// The station's language: its English texts are the source, and a
// translation (translations/ufd_<language>.ts, built into the program)
// replaces them where the locale or [Window] Language asks for one.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace ufd {

// The one context of the window's texts, for lupdate and translate().
inline constexpr const char* kStationContext = "TestFrm";

// A text marked with QT_TRANSLATE_NOOP("TestFrm", ...) in the language shown.
inline QString TrStation(const QString& english) {
    return QCoreApplication::translate(kStationContext, english.toUtf8().constData());
}

// A media test's finding (device/media_words.h) in the language shown.
inline QString TrMediaWords(const char* english) {
    return QCoreApplication::translate("MediaWords", english);
}

// Installs the translation of `setting` ([Window] Language: "en" keeps the
// English texts), else of the system's locale. Returns the language shown:
// "en" when no translation applies.
QString InstallStationLanguage(const QString& setting);

// `english` of `context` in the language `setting` chooses, as
// InstallStationLanguage would show it, for what is printed before the
// application exists (the usage); installs nothing.
QString TranslateBeforeStart(const QString& setting, const char* context, const char* english);

} // namespace ufd
