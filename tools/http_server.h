// The listening side of the page server: accepts connections, holds each
// client address to a number of connections and hands complete requests to
// one handler. Bounded requests and closing live in HttpConnection.
#pragma once

#include "http_connection.h"

#include <QHash>
#include <QObject>
#include <QTcpServer>

#include <chrono>
#include <functional>

namespace ufd {

struct HttpServerLimits {
    HttpLimits request;
    std::chrono::milliseconds idle = std::chrono::seconds(10);
    int perClient = 32; // connections at once from one address
};

// Hands each accepted descriptor to accept, without a socket class around it.
class DescriptorServer : public QTcpServer {
public:
    std::function<void(int)> accept;

protected:
    void incomingConnection(qintptr descriptor) override { accept(int(descriptor)); }
};

class HttpServer : public QObject {
public:
    HttpServer(HttpServerLimits limits, HttpConnection::Handler handler);

    // The port bound (port 0: a free one); 0 when it cannot listen.
    quint16 Listen(const QHostAddress& address, quint16 port);
    QString ListenError() const { return server_.errorString(); }

private:
    void Accept(int descriptor);
    // Makes room for one more connection from address: closes its longest
    // idle connection when it is at the cap; false when none is idle.
    bool Room(const QHostAddress& address);

    HttpServerLimits limits_;
    HttpConnection::Handler handler_;
    DescriptorServer server_;
    QHash<QString, QList<HttpConnection*>> clients_;
};

} // namespace ufd
