// ufd-results yield, history and serve: the line's figures, one drive's runs
// and the supervisor's page, all over the database opened read-only.
#pragma once

#include "results/database_target.h"
#include "results/record_filter.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace ufd {

// What the command line of yield, history and serve gave.
struct YieldOptions {
    RecordFilter filter;
    QString serial;                                // history
    QHostAddress address{QHostAddress::LocalHost}; // serve
    quint16 port = 8470;
    QStringList hostNames; // serve --host-name
    bool open = false;     // serve --open
};

// "ADDR:PORT", "[v6]:PORT"; false when text is neither.
bool ParseListen(const QString& text, QHostAddress* address, quint16* port);

// The exit code of yield or history over target.
int RunYieldCommand(const QString& command, const YieldOptions& options,
                    const DatabaseTarget& target);

} // namespace ufd
