// Who may read the page: a request must name this server in its Host (so a
// web page elsewhere cannot reach it through a name it rebinds to this
// address), and, where the server has an access key, present the key: once
// in the URL (?key=...), which is answered with a cookie that carries it
// from then on.
#pragma once

#include "http_connection.h"
#include "http_request.h"

#include <QHostAddress>
#include <QSet>
#include <QString>

#include <optional>

namespace ufd {

struct AccessRules {
    QSet<QString> hosts; // names and addresses a Host may give, lower case
    quint16 port = 0;    // the port a Host may give
    QByteArray key;      // empty: no key asked

    QByteArray CookieName() const;
};

// The names a Host may give for a server listening on address: the address
// itself (every address of the machine for 0.0.0.0 and ::), "localhost" and
// the machine's name where loopback is served, and extra (--host-name).
QSet<QString> HostsFor(const QHostAddress& address, const QStringList& extra);

// nullopt: the request may be answered. Otherwise the answer instead: 400 or
// 421 for a Host that is not this server's, 401 without the key, and the
// redirect that stores a key given in the URL as a cookie.
std::optional<HttpResponse> CheckAccess(const AccessRules& rules, const HttpRequest& request);

// A key as read from its file: visible characters, at least 16 of them.
bool AcceptableKey(const QByteArray& key);

} // namespace ufd
