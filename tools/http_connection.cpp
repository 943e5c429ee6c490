#include "http_connection.h"

#include <cerrno>

#include <sys/socket.h>

namespace ufd {

namespace {

// What is read of a socket at once: a client that sends faster than it is
// read waits in the kernel, not in this process.
constexpr qint64 kChunk = 4 * 1024;
// A connection that asked to close, or was refused, still has its client's
// bytes read and dropped for a while (up to this long and this much), so the
// answer is not lost to a reset before the client has read it.
constexpr int kLingerMs = 1000;
constexpr qint64 kLingerBytes = 256 * 1024;

QHostAddress PeerOf(int fd) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return {};
    }
    return QHostAddress(reinterpret_cast<const sockaddr*>(&address));
}

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

HttpConnection::HttpConnection(int descriptor, HttpLimits limits, std::chrono::milliseconds idle,
                               Handler handler, QObject* parent)
    : QObject(parent), fd_(descriptor), reader_(descriptor, QSocketNotifier::Read),
      writer_(descriptor, QSocketNotifier::Write), parser_(limits), idle_(idle),
      handler_(std::move(handler)), peer_(PeerOf(descriptor)) {
    writer_.setEnabled(false);
    connect(&reader_, &QSocketNotifier::activated, this, [this] { closing_ ? Drain() : Read(); });
    connect(&writer_, &QSocketNotifier::activated, this, &HttpConnection::Flush);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &HttpConnection::Abort);
    timer_.start(idle_);
    quiet_.start();
}

bool HttpConnection::Idle() const {
    return !answering_ && !closing_ && !parser_.Started();
}

void HttpConnection::Abort() {
    if (closed_) {
        return;
    }
    closed_ = closing_ = true;
    timer_.stop();
    reader_.setEnabled(false);
    writer_.setEnabled(false);
    deleteLater();
}

void HttpConnection::Read() {
    if (closed_) {
        return;
    }
    if (answering_) {
        // The next request waits in the kernel until this one is answered.
        reader_.setEnabled(false);
        return;
    }
    char chunk[kChunk];
    while (parser_.state() == HttpRequestParser::State::Incomplete) {
        const ssize_t n =
            ::recv(fd_.get(), chunk, size_t(std::min(parser_.Room(), kChunk)), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            Abort(); // the client closed, or the connection broke
            return;
        }
        if (n < 0) {
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

void HttpConnection::Drain() {
    // One chunk a turn: a hundred clients pushing bytes at closing
    // connections leave the event loop free for the others.
    char scrap[kChunk];
    const ssize_t n = ::recv(fd_.get(), scrap, sizeof scrap, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    dropped_ += std::max<ssize_t>(n, 0);
    if (n <= 0 || dropped_ > kLingerBytes) {
        Abort();
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

void HttpConnection::Write(const QByteArray& bytes) {
    qsizetype sent = 0;
    if (pending_.isEmpty()) {
        const ssize_t n =
            ::send(fd_.get(), bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        sent = std::max<ssize_t>(n, 0);
    }
    if (sent < bytes.size()) {
        pending_ += QByteArrayView(bytes).sliced(sent);
        writer_.setEnabled(true);
    }
}

void HttpConnection::Flush() {
    while (!pending_.isEmpty()) {
        const ssize_t n = ::send(fd_.get(), pending_.constData(), size_t(pending_.size()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        }
        if (n <= 0) {
            Abort();
            return;
        }
        pending_.remove(0, n);
    }
    pending_ = QByteArray();
    writer_.setEnabled(false);
    if (closing_) {
        ::shutdown(fd_.get(), SHUT_WR);
    }
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
    Write(head);
    if (close) {
        CloseAfterWrite();
        return;
    }
    timer_.start(idle_);
    quiet_.restart();
    reader_.setEnabled(true);
    // A pipelined request already read is answered next, after this call
    // has returned to whoever answered (or by Read, if that comes first).
    if (parser_.Next() != HttpRequestParser::State::Incomplete) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (closed_ || closing_ || answering_) {
                    return;
                }
                if (parser_.state() == HttpRequestParser::State::Failed) {
                    Fail(parser_.FailStatus(), parser_.FailReason());
                } else {
                    Handle();
                }
            },
            Qt::QueuedConnection);
    }
}

void HttpConnection::CloseAfterWrite() {
    closing_ = true;
    if (pending_.isEmpty()) {
        ::shutdown(fd_.get(), SHUT_WR);
    }
    timer_.start(kLingerMs);
    reader_.setEnabled(true);
    Drain();
}

} // namespace ufd
