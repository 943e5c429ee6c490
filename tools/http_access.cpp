#include "http_access.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QUrl>
#include <QUrlQuery>

namespace ufd {

namespace {

constexpr qsizetype kMinKey = 16;
constexpr qsizetype kMaxKey = 256;

// The same time for every wrong key, however much of it matched.
bool SameKey(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return diff == 0;
}

QString Text(const QHostAddress& address) {
    QHostAddress plain(address);
    plain.setScopeId({});
    return plain.toString().toLower();
}

HttpResponse Refuse(int status, const QByteArray& why) {
    return {status, "text/plain; charset=utf-8", why + '\n', {}, status != 401};
}

QByteArray CookieValue(const HttpRequest& request, const QByteArray& name) {
    for (const auto& [header, value] : request.headers) {
        if (header != "cookie") {
            continue;
        }
        for (const QByteArray& pair : value.split(';')) {
            const QByteArray p = pair.trimmed();
            if (p.startsWith(name + '=')) {
                return p.mid(name.size() + 1);
            }
        }
    }
    return {};
}

} // namespace

QByteArray AccessRules::CookieName() const {
    // One per port: two servers on one machine keep their keys apart.
    return "ufd-key-" + QByteArray::number(port);
}

QSet<QString> HostsFor(const QHostAddress& address, const QStringList& extra) {
    QSet<QString> hosts;
    const bool any = address == QHostAddress::Any || address == QHostAddress::AnyIPv4 ||
                     address == QHostAddress::AnyIPv6;
    if (any) {
        for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
            hosts.insert(Text(a));
        }
    }
    hosts.insert(Text(address));
    if (any || address.isLoopback()) {
        hosts.insert(QStringLiteral("localhost"));
        hosts.insert(QHostInfo::localHostName().toLower());
    }
    for (const QString& name : extra) {
        hosts.insert(name.toLower());
    }
    return hosts;
}

std::optional<HttpResponse> CheckAccess(const AccessRules& rules, const HttpRequest& request) {
    if (request.Has("host")) {
        QByteArray host = request.Header("host").toLower();
        QByteArray port;
        const qsizetype close = host.lastIndexOf(']');
        const qsizetype colon = host.lastIndexOf(':');
        if (colon > close && (close >= 0 || host.indexOf(':') == colon)) {
            port = host.mid(colon + 1);
            host.truncate(colon);
        }
        if (host.startsWith('[') && host.endsWith(']')) {
            host = host.mid(1, host.size() - 2);
        }
        if (host.endsWith('.')) {
            host.chop(1);
        }
        if (host.isEmpty()) {
            return Refuse(400, "the Host header names no host");
        }
        if ((!port.isEmpty() && port != QByteArray::number(rules.port)) ||
            !rules.hosts.contains(QString::fromLatin1(host))) {
            return Refuse(421, "this server does not answer for that Host");
        }
    }
    if (rules.key.isEmpty()) {
        return std::nullopt;
    }
    const QUrl url = QUrl::fromEncoded(request.target);
    QUrlQuery query(url);
    if (query.hasQueryItem(QStringLiteral("key"))) {
        if (!SameKey(query.queryItemValue(QStringLiteral("key"), QUrl::FullyDecoded).toUtf8(),
                     rules.key)) {
            return Refuse(401, "wrong access key");
        }
        // The key leaves the address bar: it is the cookie from now on.
        query.removeAllQueryItems(QStringLiteral("key"));
        QUrl clean(url);
        clean.setQuery(query.isEmpty() ? QString() : query.query(QUrl::FullyEncoded));
        HttpResponse r{303, {}, {}, {}, false};
        r.headers = {{"Location", clean.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority)},
                     {"Set-Cookie", rules.CookieName() + '=' + rules.key +
                                        "; Path=/; HttpOnly; SameSite=Strict"}};
        return r;
    }
    if (!SameKey(CookieValue(request, rules.CookieName()), rules.key)) {
        return Refuse(401, "this page needs its access key: open the address that "
                           "ufd-results serve printed");
    }
    return std::nullopt;
}

bool AcceptableKey(const QByteArray& key) {
    if (key.size() < kMinKey || key.size() > kMaxKey) {
        return false;
    }
    for (const char c : key) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && c != '-' && c != '_' && c != '.' && c != '~') {
            return false;
        }
    }
    return true;
}

} // namespace ufd
