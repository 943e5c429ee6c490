#include "http_server.h"

#include <QTcpSocket>

namespace ufd {

void UnbufferedTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState,
                                     QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}

HttpServer::HttpServer(HttpServerLimits limits, HttpConnection::Handler handler)
    : limits_(limits), handler_(std::move(handler)) {
    connect(&server_, &QTcpServer::newConnection, this, &HttpServer::Accept);
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

void HttpServer::Accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const QHostAddress peer = socket->peerAddress();
        if (!Room(peer)) {
            // Every connection of this client is busy: it waits for one of
            // its own, and other clients are not held up by it.
            const QByteArray body = "too many connections from this address\n";
            socket->write("HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\n"
                          "Content-Length: " +
                          QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        const QString key = peer.toString();
        auto* connection =
            new HttpConnection(socket, limits_.request, limits_.idle, handler_, this);
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
}

} // namespace ufd
