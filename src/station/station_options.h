// The command line of ufd-station: the mode (window, --batch, --screenshot)
// and what a headless run is told that the operator would otherwise choose
// in the window (the items, the product file, who runs it, the lot).
#pragma once

#include "settings/translate.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace ufd {

class TestFrm;

struct StationOptions {
    bool batch = false;
    QString screenshot;
    bool json = false;
    std::optional<std::vector<int>> items; // Check1 indexes to tick; none: as the window starts
    QString product; // a Product.ini elsewhere; empty: the program directory's
    std::optional<QString> operatorName;
    std::optional<QString> lot;
};

struct OptionsResult {
    StationOptions options;
    std::optional<QString> error; // the usage follows it, exit 2
};

// args without the program name. Qt's own window options pass through. The
// error is in the language tr gives (the usage's, before the window exists).
OptionsResult ParseStationOptions(const QStringList& args, const Translate& tr = English);

// Ticks exactly the given items (Check1 indexes); an error when the product's
// ApMode has fixed other items, which the window would not let the operator
// change either.
std::optional<QString> TickItems(TestFrm& frm, const std::vector<int>& items);

} // namespace ufd
