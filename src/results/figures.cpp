#include "results/figures.h"

#include <array>
#include <utility>

namespace ufd {

namespace {

constexpr std::array<std::pair<YieldBy, const char*>, 7> kNames = {{
    {YieldBy::Product, "product"},
    {YieldBy::Station, "station"},
    {YieldBy::Socket, "socket"},
    {YieldBy::Hour, "hour"},
    {YieldBy::Day, "day"},
    {YieldBy::Lot, "lot"},
    {YieldBy::Operator, "operator"},
}};

} // namespace

std::optional<YieldBy> YieldByFromName(const QString& name) {
    for (const auto& [by, text] : kNames) {
        if (name == QLatin1String(text)) {
            return by;
        }
    }
    return std::nullopt;
}

QString YieldByName(YieldBy by) {
    for (const auto& [b, text] : kNames) {
        if (b == by) {
            return QString::fromLatin1(text);
        }
    }
    return {};
}

} // namespace ufd
