// One HTTP/1.x request read from a connection under fixed limits: the
// request line, the header section and the body each have a ceiling, so a
// client sending without end costs the server a bounded buffer, not memory.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>

namespace ufd {

struct HttpRequest {
    QByteArray method, target, version;           // "GET", "/api/runs?limit=5", "HTTP/1.1"
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
    QByteArray body;

    // The first value of a header, empty when absent.
    QByteArray Header(const QByteArray& lowerName) const;
    bool Has(const QByteArray& lowerName) const;
    // HTTP/1.1 keeps the connection unless it says close; 1.0 closes it
    // unless it asks for keep-alive.
    bool KeepAlive() const;
};

struct HttpLimits {
    qsizetype line = 2 * 1024;    // the request line
    qsizetype headers = 8 * 1024; // the header section, every line together
    int headerCount = 100;
    qsizetype body = 64 * 1024;
};

class HttpRequestParser {
public:
    enum class State { Incomplete, Complete, Failed };

    explicit HttpRequestParser(HttpLimits limits = {}) : limits_(limits) {}

    // How many more bytes the request may still take: the connection reads
    // no more than this, so its buffer never grows past the limits.
    qsizetype Room() const;
    // Takes bytes from the connection; at most Room() are kept.
    State Feed(QByteArrayView bytes);
    State state() const { return state_; }
    // Complete: the request; bytes past it (a pipelined next request) stay
    // for Next().
    const HttpRequest& Request() const { return request_; }
    // Failed: the status to answer (400, 413, 414, 431, 501, 505) and why.
    int FailStatus() const { return failStatus_; }
    const QByteArray& FailReason() const { return failReason_; }
    // Begins the next request with the bytes left over from the last one.
    State Next();
    // Whether any byte of a request has arrived (an idle connection has none).
    bool Started() const { return !buffer_.isEmpty() || phase_ != Phase::Line; }

private:
    enum class Phase { Line, Headers, Body };
    State Parse();
    State Fail(int status, const char* reason);
    bool ParseLine(const QByteArray& line);
    bool ParseHeader(const QByteArray& line);
    State HeadersDone();

    HttpLimits limits_;
    State state_ = State::Incomplete;
    Phase phase_ = Phase::Line;
    QByteArray buffer_;
    qsizetype headerBytes_ = 0;
    qsizetype bodyLength_ = 0;
    HttpRequest request_;
    int failStatus_ = 0;
    QByteArray failReason_;
};

} // namespace ufd
