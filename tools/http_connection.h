// One client's connection: reads requests through the bounded parser, one at
// a time, and writes each answer before it reads the next. A connection is
// closed after an answer the client or HTTP/1.0 asked to close with, after a
// request it could not take, and when it stays idle (or sends a request too
// slowly) for the idle timeout.
#pragma once

#include "base/unique_fd.h"
#include "http_request.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <functional>

namespace ufd {

struct HttpResponse {
    int status = 200;
    QByteArray type; // Content-Type; empty for no body
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool close = false; // close the connection after it
};

class HttpConnection : public QObject {
public:
    using Handler = std::function<void(HttpConnection*, const HttpRequest&)>;

    // Takes descriptor, a connected socket; handler gets each complete
    // request and answers it with Respond(), at once or later (from a
    // worker's reply). The socket is read and written straight through the
    // kernel: a client costs its parser's bytes, not a socket class's buffers.
    HttpConnection(int descriptor, HttpLimits limits, std::chrono::milliseconds idle,
                   Handler handler, QObject* parent);

    void Respond(const HttpResponse& response);
    // True while no byte of a request is pending and no answer is awaited:
    // such a connection may be closed to make room for another.
    bool Idle() const;
    const QHostAddress& Peer() const { return peer_; }
    qint64 IdleMs() const { return quiet_.elapsed(); }
    // Closes at once, without an answer.
    void Abort();

private:
    void Read();
    void Drain();
    void Write(const QByteArray& bytes);
    void Flush();
    void Fail(int status, const QByteArray& reason);
    void Handle();
    void CloseAfterWrite();

    UniqueFd fd_; // first: closed after the notifiers that watch it are gone
    QSocketNotifier reader_, writer_;
    HttpRequestParser parser_;
    std::chrono::milliseconds idle_;
    Handler handler_;
    QHostAddress peer_;
    QTimer timer_;
    QElapsedTimer quiet_;
    QByteArray pending_; // what the kernel has not taken yet
    bool answering_ = false;
    bool closing_ = false;
    bool closed_ = false;
    bool keepAlive_ = true;
    qint64 dropped_ = 0; // bytes read and dropped since closing
    QByteArray method_;
};

QByteArray StatusText(int status);

} // namespace ufd
