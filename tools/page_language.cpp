#include "page_language.h"

#include "base/status_codes.h"
#include "page_words.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QLocale>

#include <algorithm>
#include <string>

namespace ufd {

namespace {

// The context the status codes' reasons are translated in (the window's).
constexpr const char* kReasonContext = "StatusReasons";
// A header may list many; a reader wants one of the first few.
constexpr int kMaxTags = 8;

struct Tag {
    QString name;
    double q;
};

// "zh-CN,zh;q=0.9,en;q=0.8" in order of preference, q=0 left out.
QList<Tag> Preferred(const QByteArray& header) {
    QList<Tag> tags;
    for (const QByteArray& part : header.split(',')) {
        const QList<QByteArray> fields = part.split(';');
        const QString name = QString::fromLatin1(fields.front().trimmed());
        double q = 1;
        for (qsizetype i = 1; i < fields.size(); ++i) {
            const QByteArray f = fields[i].trimmed();
            if (f.startsWith("q=")) {
                bool ok = false;
                q = f.mid(2).toDouble(&ok);
                q = ok ? q : 0;
            }
        }
        if (!name.isEmpty() && q > 0) {
            tags.append({name, q});
        }
        if (tags.size() == kMaxTags) {
            break;
        }
    }
    std::stable_sort(tags.begin(), tags.end(),
                     [](const Tag& a, const Tag& b) { return a.q > b.q; });
    return tags;
}

} // namespace

const QTranslator* PageLanguages::Load(const QString& tag) {
    auto t = std::make_unique<QTranslator>();
    if (!t->load(QLocale(tag), QStringLiteral("ufd"), QStringLiteral("_"),
                 QStringLiteral(":/i18n"))) {
        return nullptr;
    }
    std::unique_ptr<QTranslator>& kept = loaded_[t->language()];
    if (!kept) {
        kept = std::move(t);
    }
    return kept.get();
}

const QTranslator* PageLanguages::Choose(const QString& lang, const QByteArray& acceptLanguage) {
    const QList<Tag> tags = lang.isEmpty() ? Preferred(acceptLanguage) : QList<Tag>{{lang, 1}};
    for (const Tag& tag : tags) {
        // English is the page as written; "*" leaves the choice to the page.
        if (tag.name.startsWith(QLatin1String("en"), Qt::CaseInsensitive) ||
            tag.name == QLatin1String("*")) {
            return nullptr;
        }
        if (const QTranslator* t = Load(tag.name)) {
            return t;
        }
    }
    return nullptr;
}

QByteArray TranslatedPage(const QByteArray& html, const QTranslator* t) {
    if (t == nullptr) {
        return html;
    }
    QString page = QString::fromUtf8(html);
    QJsonObject words;
    auto add = [&](const char* context, const char* english) {
        const QString source = QString::fromUtf8(english);
        const QString shown = t->translate(context, english);
        words.insert(source, shown.isEmpty() ? source : shown);
    };
    for (const char* english : kPageWords) {
        add(kPageContext, english);
        // Each of page.html's texts stands alone between its tags.
        page.replace(
            QLatin1Char('>') + QString::fromUtf8(english).toHtmlEscaped() + QLatin1Char('<'),
            QLatin1Char('>') + words.value(QString::fromUtf8(english)).toString().toHtmlEscaped() +
                QLatin1Char('<'));
    }
    for (const StatusCode& code : kStatusCodes) {
        add(kReasonContext, std::string(code.reason).c_str());
    }
    page.replace(QLatin1String("<html lang=\"en\">"),
                 QStringLiteral("<html lang=\"%1\">").arg(t->language().replace('_', '-')));
    // Inside a script element "</" would end it: every "<" as JSON's \u003c.
    const QString block = QString::fromUtf8(QJsonDocument(words).toJson(QJsonDocument::Compact))
                              .replace(QLatin1Char('<'), QLatin1String("\\u003c"));
    page.replace(QLatin1String("<script id=\"words\" type=\"application/json\">{}</script>"),
                 QLatin1String("<script id=\"words\" type=\"application/json\">") + block +
                     QLatin1String("</script>"));
    return page.toUtf8();
}

} // namespace ufd
