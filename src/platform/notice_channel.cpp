#include "platform/notice_channel.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <memory>
#include <unistd.h>

namespace ufd {

namespace {

// A peer that keeps the connection open is cut off after this; what it
// sent by then is its notice.
constexpr int kPeerTimeoutMilliseconds = 2000;
// Notices are a few bytes. Past this the text can only be garbage, which
// counts as "other" all the same, so the rest is not kept.
constexpr qsizetype kMaxNoticeBytes = 64 * 1024;

} // namespace

QString NoticeChannelName() {
    const QString fromEnvironment = qEnvironmentVariable("UFD_NOTICE_CHANNEL");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    return QStringLiteral("ufd-station-%1").arg(::getuid());
}

NoticeServer::NoticeServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            struct Pending {
                QByteArray bytes;
                bool delivered = false;
            };
            auto pending = std::make_shared<Pending>();
            auto take = [socket, pending] {
                const qsizetype room = kMaxNoticeBytes - pending->bytes.size();
                pending->bytes.append(socket->read(room > 0 ? room : 0));
                return pending->bytes.size() >= kMaxNoticeBytes;
            };
            auto deliver = [this, socket, pending, take] {
                if (pending->delivered) {
                    return;
                }
                pending->delivered = true;
                take();
                socket->disconnect(this);
                socket->abort();
                socket->deleteLater();
                emit NoticeReceived(pending->bytes);
            };
            connect(socket, &QLocalSocket::readyRead, this, [take, deliver] {
                if (take()) {
                    deliver();
                }
            });
            connect(socket, &QLocalSocket::disconnected, this, deliver);
            connect(socket, &QLocalSocket::errorOccurred, this,
                    [deliver](QLocalSocket::LocalSocketError error) {
                        // The peer closing is how a notice ends; other errors
                        // end it too, with what came before.
                        (void)error;
                        deliver();
                    });
            auto* timeout = new QTimer(socket);
            timeout->setSingleShot(true);
            connect(timeout, &QTimer::timeout, this, deliver);
            timeout->start(kPeerTimeoutMilliseconds);
            if (socket->state() != QLocalSocket::ConnectedState) {
                deliver();
            } else if (socket->bytesAvailable() > 0 && take()) {
                deliver();
            }
        }
    });
}

NoticeServer::~NoticeServer() {
    server_->close();
}

bool NoticeServer::Listen(const QString& name) {
    server_->close();
    // A station that died leaves its socket file behind, and listening on
    // it would fail; the name is ours, so clear it first.
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

QString NoticeServer::Name() const {
    return server_->serverName();
}

bool SendNotice(const QByteArray& text, const QString& name, int timeoutMilliseconds) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMilliseconds)) {
        return false;
    }
    if (!text.isEmpty() && socket.write(text) != text.size()) {
        return false;
    }
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMilliseconds)) {
            return false;
        }
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) {
        socket.waitForDisconnected(timeoutMilliseconds);
    }
    return true;
}

} // namespace ufd
