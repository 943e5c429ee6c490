#include "http_connection.h"

#include <QTcpSocket>

#include <sys/socket.h>

namespace ufd {

namespace {

// What is read of a socket at once (its socket is unbuffered): a client that
// sends faster than it is read waits in the kernel, not in this process.
constexpr qint64 kSocketBuffer = 1024;
// A connection that asked to close, or was refused, still has its client's
// bytes read and dropped for a while (up to this long and this much), so the
// answer is not lost to a reset before the client has read it.
constexpr int kLingerMs = 1000;
constexpr qint64 kLingerBytes = 1 << 20;

} // namespace

QByteArray StatusText(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 303:
        return "See Other";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 421:
        return "Misdirected Request";
    case 431:
        return "Request Header Fields Too Large";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Status";
    }
}

HttpConnection::HttpConnection(QTcpSocket* socket, HttpLimits limits,
                               std::chrono::milliseconds idle, Handler handler, QObject* parent)
    : QObject(parent), socket_(socket), parser_(limits), idle_(idle), handler_(std::move(handler)),
      peer_(socket->peerAddress()) {
    socket_->setParent(this);
    socket_->setReadBufferSize(kSocketBuffer);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &HttpConnection::Abort);
    connect(socket_, &QTcpSocket::readyRead, this, &HttpConnection::Read);
    connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(socket_, &QTcpSocket::errorOccurred, this, [this] {
        if (socket_->state() == QAbstractSocket::UnconnectedState) {
            deleteLater();
        }
    });
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (closing_ && socket_->bytesToWrite() == 0) {
            ::shutdown(static_cast<int>(socket_->socketDescriptor()), SHUT_WR);
        }
    });
    timer_.start(idle_);
    quiet_.start();
    Read();
}

bool HttpConnection::Idle() const {
    return !answering_ && !closing_ && !parser_.Started();
}

void HttpConnection::Abort() {
    closing_ = true;
    timer_.stop();
    socket_->abort();
    deleteLater();
}

void HttpConnection::Read() {
    if (closing_) {
        dropped_ += socket_->skip(socket_->bytesAvailable());
        if (dropped_ > kLingerBytes) {
            Abort();
        }
        return;
    }
    if (answering_) {
        return; // the next request waits in the socket until this one is answered
    }
    char chunk[kSocketBuffer];
    while (parser_.state() == HttpRequestParser::State::Incomplete) {
        const qint64 n = socket_->read(chunk, std::min<qint64>(parser_.Room(), kSocketBuffer));
        if (n <= 0) {
            break;
        }
        parser_.Feed(QByteArrayView(chunk, n));
    }
    if (parser_.state() == HttpRequestParser::State::Failed) {
        Fail(parser_.FailStatus(), parser_.FailReason());
    } else if (parser_.state() == HttpRequestParser::State::Complete) {
        Handle();
    }
}

void HttpConnection::Handle() {
    answering_ = true;
    timer_.stop();
    const HttpRequest& request = parser_.Request();
    keepAlive_ = request.KeepAlive();
    method_ = request.method;
    handler_(this, request);
}

void HttpConnection::Fail(int status, const QByteArray& reason) {
    answering_ = true;
    keepAlive_ = false;
    Respond({status, "text/plain; charset=utf-8", reason + '\n', {}, true});
}

void HttpConnection::Respond(const HttpResponse& response) {
    if (!answering_ || closing_) {
        return;
    }
    answering_ = false;
    const bool close = response.close || !keepAlive_;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      StatusText(response.status) + "\r\n";
    if (!response.type.isEmpty()) {
        head += "Content-Type: " + response.type + "\r\n";
    }
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    for (const auto& [name, value] : response.headers) {
        head += name + ": " + value + "\r\n";
    }
    head += close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    if (method_ != "HEAD") {
        head += response.body;
    }
    // Straight to the kernel while nothing waits before it: Qt's socket
    // would first copy the answer into a 16 KiB block of its own for every
    // connection, refusals of a flood included. What the kernel does not
    // take now goes through Qt's buffer.
    qint64 sent = 0;
    if (socket_->bytesToWrite() == 0) {
        sent = ::send(static_cast<int>(socket_->socketDescriptor()), head.constData(),
                      static_cast<size_t>(head.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        sent = std::max<qint64>(sent, 0);
    }
    if (sent < head.size()) {
        socket_->write(head.constData() + sent, head.size() - sent);
    }
    if (close) {
        CloseAfterWrite();
        return;
    }
    timer_.start(idle_);
    quiet_.restart();
    // A pipelined request already read is answered next, after this call
    // has returned to whoever answered.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (parser_.Next() == HttpRequestParser::State::Incomplete) {
                Read();
            } else if (parser_.state() == HttpRequestParser::State::Failed) {
                Fail(parser_.FailStatus(), parser_.FailReason());
            } else {
                Handle();
            }
        },
        Qt::QueuedConnection);
}

void HttpConnection::CloseAfterWrite() {
    closing_ = true;
    if (socket_->bytesToWrite() == 0) {
        ::shutdown(static_cast<int>(socket_->socketDescriptor()), SHUT_WR);
    }
    timer_.start(kLingerMs);
    Read();
}

} // namespace ufd
