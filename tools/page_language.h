// The supervisor's page in the reader's language: ?lang= when given (a wall
// screen's browser may not be set to the line's language), else the
// browser's Accept-Language, in its order of preference. The words come from
// the station's translations built into the program; English, the page as
// written, when none is shipped for the languages asked.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTranslator>

#include <map>
#include <memory>

namespace ufd {

class PageLanguages {
public:
    // The translation to show; nullptr for English.
    const QTranslator* Choose(const QString& lang, const QByteArray& acceptLanguage);

private:
    const QTranslator* Load(const QString& tag);

    std::map<QString, std::unique_ptr<QTranslator>> loaded_; // by language shipped
};

// page.html in t's language: its texts translated, lang set, and the words
// page.js shows (its own and the status codes' reasons) in its data block.
// Without t, the page as written.
QByteArray TranslatedPage(const QByteArray& html, const QTranslator* t);

} // namespace ufd
