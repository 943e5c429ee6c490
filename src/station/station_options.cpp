#include "station/station_options.h"

#include "settings/plain_text.h"
#include "station/station_form.h"
#include "station/widget_helpers.h"

#include <QCoreApplication>

#include <array>
#include <utility>

namespace ufd {

namespace {

constexpr std::array<std::pair<const char*, int>, 4> kItemNames = {{
    {"format", kItemFormat},
    {"manufacture", kItemManufacture},
    {"checkconfig", kItemCheckConfig},
    {"checkwp", kItemCheckWP},
}};

// Qt reads these itself; a window started with -style or -platform keeps
// working. The first group takes a value.
const QStringList kQtWithValue = {
    "-platform",     "-platformpluginpath", "-platformtheme", "-plugin",     "-qwindowgeometry",
    "-qwindowtitle", "-qwindowicon",        "-style",         "-stylesheet", "-session",
    "-display",      "-geometry",           "-title"};
const QStringList kQtFlags = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};

std::optional<std::vector<int>> ItemList(const QString& text, QString* error, const Translate& tr) {
    std::vector<int> items;
    for (const QString& name : text.split(QLatin1Char(','))) {
        const QString key = name.trimmed().toLower();
        const auto* it = std::ranges::find_if(
            kItemNames, [&](const auto& n) { return key == QLatin1String(n.first); });
        if (it == kItemNames.end()) {
            *error =
                tr(kRefusalContext,
                   QT_TRANSLATE_NOOP("Refusals", "--items: unknown item \"%1\" (known: format, "
                                                 "manufacture, checkconfig, checkwp)"))
                    .arg(name);
            return std::nullopt;
        }
        items.push_back(it->second);
    }
    const bool wp = std::ranges::count(items, kItemCheckWP) > 0;
    if (wp && std::ranges::any_of(items, [](int i) { return i != kItemCheckWP; })) {
        *error = tr(kRefusalContext,
                    QT_TRANSLATE_NOOP("Refusals", "--items: checkwp runs alone, as in the window; "
                                                  "run format, manufacture or checkconfig in "
                                                  "another run"));
        return std::nullopt;
    }
    return items;
}

// --product, --operator, --lot: an empty value is a script's unset variable
// (an empty --product would fall back to the program directory's product),
// and a name kept in the records stays one printable line.
std::optional<QString> NamedValue(const QString& option, std::optional<QString> value,
                                  std::optional<QString>& error, const Translate& tr) {
    if (!value) {
        return value;
    }
    if (value->trimmed().isEmpty()) {
        error =
            tr(kRefusalContext, QT_TRANSLATE_NOOP("Refusals", "%1 must not be empty")).arg(option);
        return std::nullopt;
    }
    if (const auto why = PlainTextRefusal(*value, tr)) {
        // The option, then why: a translation may put them in its own order.
        error = tr(kRefusalContext, QT_TRANSLATE_NOOP("Refusals", "%1: %2")).arg(option, *why);
        return std::nullopt;
    }
    return value;
}

} // namespace

OptionsResult ParseStationOptions(const QStringList& args, const Translate& tr) {
    OptionsResult r;
    StationOptions& o = r.options;
    for (qsizetype i = 0; i < args.size() && !r.error; ++i) {
        const QString& a = args[i];
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size()) {
                r.error =
                    tr(kRefusalContext, QT_TRANSLATE_NOOP("Refusals", "%1 needs a value")).arg(a);
                return std::nullopt;
            }
            return args[++i];
        };
        if (a == QStringLiteral("--batch")) {
            o.batch = true;
        } else if (a == QStringLiteral("--json")) {
            o.json = true;
        } else if (a == QStringLiteral("--screenshot")) {
            o.screenshot = value().value_or(QString());
        } else if (a == QStringLiteral("--product")) {
            o.product = NamedValue(a, value(), r.error, tr).value_or(QString());
        } else if (a == QStringLiteral("--operator")) {
            o.operatorName = NamedValue(a, value(), r.error, tr);
        } else if (a == QStringLiteral("--lot")) {
            o.lot = NamedValue(a, value(), r.error, tr);
        } else if (a == QStringLiteral("--items")) {
            if (const auto text = value()) {
                QString error;
                o.items = ItemList(*text, &error, tr);
                if (!o.items) {
                    r.error = error;
                }
            }
        } else if (kQtWithValue.contains(a)) {
            value();
        } else if (!kQtFlags.contains(a)) {
            r.error =
                tr(kRefusalContext, QT_TRANSLATE_NOOP("Refusals", "unknown option \"%1\"")).arg(a);
        }
    }
    if (!r.error && o.json && !o.batch) {
        r.error = tr(kRefusalContext, QT_TRANSLATE_NOOP("Refusals", "--json goes with --batch"));
    }
    return r;
}

std::optional<QString> TickItems(TestFrm& frm, const std::vector<int>& items) {
    std::array<bool, kItemCount> wanted{};
    for (int i : items) {
        wanted[static_cast<size_t>(i)] = true;
    }
    for (const auto& [name, index] : kItemNames) {
        QCheckBox* box = frm.Check1(index);
        if (box != nullptr && !box->isEnabled() &&
            Ticked(box) != wanted[static_cast<size_t>(index)]) {
            // The window's language is installed by now.
            return QCoreApplication::translate(
                       kRefusalContext,
                       QT_TRANSLATE_NOOP("Refusals", "--items: Product.ini's ApMode=%1 fixes the "
                                                     "items; \"%2\" cannot be changed"))
                .arg(frm.Context().Product.ApMode)
                .arg(QLatin1String(name));
        }
    }
    // Unticks first: the item rule then never sees Check WP beside another.
    for (bool tick : {false, true}) {
        for (const auto& [name, index] : kItemNames) {
            if (wanted[static_cast<size_t>(index)] == tick) {
                SetTicked(frm.Check1(index), tick);
            }
        }
    }
    return std::nullopt;
}

} // namespace ufd
