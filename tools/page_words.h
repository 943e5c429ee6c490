// The supervisor's page's words (tools/web: the texts of page.html and every
// w("...") of page.js), marked here for lupdate in the context "Page", so the
// page is translated in the station's own .ts files. The server hands them to
// the page in the reader's language; a test holds this list to the page.
#pragma once

#include <QtGlobal>

namespace ufd {

inline constexpr const char* kPageContext = "Page";

inline constexpr const char* kPageWords[] = {
    // page.html
    QT_TRANSLATE_NOOP("Page", "UFD line yield"),
    QT_TRANSLATE_NOOP("Page", "Drives"),
    QT_TRANSLATE_NOOP("Page", "First-pass yield"),
    QT_TRANSLATE_NOOP("Page", "Final yield"),
    QT_TRANSLATE_NOOP("Page", "loading"),
    QT_TRANSLATE_NOOP("Page", "Failures of first passes, most first"),
    QT_TRANSLATE_NOOP("Page", "Sockets"),
    QT_TRANSLATE_NOOP("Page", "First-pass failures per socket, laid out as the rack; a socket far "
                              "above its station's other sockets is marked suspect."),
    QT_TRANSLATE_NOOP("Page", "Yield per hour"),
    QT_TRANSLATE_NOOP("Page", "Yield per day"),
    QT_TRANSLATE_NOOP("Page", "Yield per station"),
    QT_TRANSLATE_NOOP("Page", "Per station"),
    QT_TRANSLATE_NOOP("Page", "Station"),
    QT_TRANSLATE_NOOP("Page", "First pass"),
    QT_TRANSLATE_NOOP("Page", "Final"),
    QT_TRANSLATE_NOOP("Page", "Per product"),
    QT_TRANSLATE_NOOP("Page", "Product"),
    QT_TRANSLATE_NOOP("Page", "Per lot"),
    QT_TRANSLATE_NOOP("Page", "Lot"),
    QT_TRANSLATE_NOOP("Page", "Per operator"),
    QT_TRANSLATE_NOOP("Page", "Operator"),
    QT_TRANSLATE_NOOP("Page", "Failure Pareto"),
    QT_TRANSLATE_NOOP("Page", "Code"),
    QT_TRANSLATE_NOOP("Page", "Reason"),
    QT_TRANSLATE_NOOP("Page", "Share"),
    QT_TRANSLATE_NOOP("Page", "Cumulative"),
    QT_TRANSLATE_NOOP("Page", "Last runs"),
    QT_TRANSLATE_NOOP("Page", "Started (local)"),
    QT_TRANSLATE_NOOP("Page", "Run"),
    QT_TRANSLATE_NOOP("Page", "Slot"),
    QT_TRANSLATE_NOOP("Page", "Serial"),
    QT_TRANSLATE_NOOP("Page", "Result"),
    QT_TRANSLATE_NOOP("Page", "Drive "),
    QT_TRANSLATE_NOOP("Page", "Its last record"),
    // page.js
    QT_TRANSLATE_NOOP("Page", "First-pass yield %"),
    QT_TRANSLATE_NOOP("Page", "Final yield %"),
    QT_TRANSLATE_NOOP("Page", "(none)"),
    QT_TRANSLATE_NOOP("Page", "Cumulative %"),
    QT_TRANSLATE_NOOP("Page", "(no port)"),
    QT_TRANSLATE_NOOP("Page", "%1 drive"),
    QT_TRANSLATE_NOOP("Page", "%1 drives"),
    QT_TRANSLATE_NOOP("Page", ", suspect"),
    QT_TRANSLATE_NOOP("Page", "%1% of %2 first passes failed"),
    QT_TRANSLATE_NOOP("Page", "; suspect"),
    QT_TRANSLATE_NOOP("Page", "PASS"),
    QT_TRANSLATE_NOOP("Page", "FAIL %1"),
    QT_TRANSLATE_NOOP("Page", "Drive %1: %2"),
    QT_TRANSLATE_NOOP("Page", "updated %1"),
    QT_TRANSLATE_NOOP("Page", "Chart.js is not installed (Debian package libjs-chart.js): the "
                              "tables alone are shown."),
    QT_TRANSLATE_NOOP("Page", "records unavailable: %1"),
    QT_TRANSLATE_NOOP("Page", "not updated: %1"),
};

} // namespace ufd
