#include "monitor/notice_delivery.h"

#include "platform/notice_channel.h"

#include <QLocalSocket>

#include <sys/socket.h>

namespace ufd {

namespace {

std::optional<pid_t> PeerProcess(const QLocalSocket& socket) {
    const qintptr fd = socket.socketDescriptor();
    if (fd < 0) {
        return std::nullopt;
    }
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        credentials.pid <= 0) {
        return std::nullopt;
    }
    return credentials.pid;
}

} // namespace

Delivery DeliverNotice(const QByteArray& text, const QString& channel, int timeoutMilliseconds) {
    Delivery result;
    const QString path = NoticeSocketPath(channel);
    if (path.isEmpty()) {
        return result;
    }
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMilliseconds)) {
        return result;
    }
    const std::optional<pid_t> listener = PeerProcess(socket);
    if (!text.isEmpty() && socket.write(text) != text.size()) {
        return result;
    }
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMilliseconds)) {
            return result;
        }
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) {
        socket.waitForDisconnected(timeoutMilliseconds);
    }
    result.delivered = true;
    result.listener = listener;
    return result;
}

} // namespace ufd
