// Delivers one notice the way the station's channel expects (one
// connection, the exact bytes, then close) and tells who took it.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <sys/types.h>

namespace ufd {

struct Delivery {
    bool delivered = false;
    // The process that accepted the connection, from the socket's peer
    // credentials; lets Vasket follow a station that did not pass its id.
    std::optional<pid_t> listener;
};

Delivery DeliverNotice(const QByteArray& text, const QString& channel, int timeoutMilliseconds);

} // namespace ufd
