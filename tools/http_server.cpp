#include "http_server.h"

#include <sys/socket.h>
#include <unistd.h>

namespace ufd {

HttpServer::HttpServer(HttpServerLimits limits, HttpConnection::Handler handler)
    : limits_(limits), handler_(std::move(handler)) {
    server_.accept = [this](int descriptor) { Accept(descriptor); };
}

quint16 HttpServer::Listen(const QHostAddress& address, quint16 port) {
    return server_.listen(address, port) ? server_.serverPort() : 0;
}

bool HttpServer::Room(const QHostAddress& address) {
    QList<HttpConnection*>& open = clients_[address.toString()];
    if (open.size() < limits_.perClient) {
        return true;
    }
    HttpConnection* oldest = nullptr;
    for (HttpConnection* c : open) {
        if (c->Idle() && (oldest == nullptr || c->IdleMs() > oldest->IdleMs())) {
            oldest = c;
        }
    }
    if (oldest == nullptr) {
        return false;
    }
    open.removeOne(oldest);
    oldest->Abort();
    return true;
}

void HttpServer::Accept(int descriptor) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    ::getpeername(descriptor, reinterpret_cast<sockaddr*>(&address), &size);
    const QHostAddress peer(reinterpret_cast<const sockaddr*>(&address));
    if (!Room(peer)) {
        // Every connection of this client is busy: it waits for one of its
        // own, and other clients are not held up by it.
        const QByteArray body = "too many connections from this address\n";
        const QByteArray answer = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\n"
                                  "Content-Length: " +
                                  QByteArray::number(body.size()) +
                                  "\r\nConnection: close\r\n\r\n" + body;
        ::send(descriptor, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(descriptor, SHUT_WR);
        ::close(descriptor);
        return;
    }
    const QString key = peer.toString();
    auto* connection =
        new HttpConnection(descriptor, limits_.request, limits_.idle, handler_, this);
    clients_[key].append(connection);
    connect(connection, &QObject::destroyed, this, [this, key, connection] {
        auto it = clients_.find(key);
        if (it != clients_.end()) {
            it->removeOne(connection);
            if (it->isEmpty()) {
                clients_.erase(it);
            }
        }
    });
}

} // namespace ufd
