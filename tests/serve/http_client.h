// A client of the page server that sends exactly the bytes a test gives,
// over a blocking socket with timeouts: a malformed or endless request, a
// connection left idle, and the answer as the server really wrote it.
#pragma once

#include "support/test_common.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace ufd::test {

struct HttpAnswer {
    int status = 0; // 0: none came
    QByteArray head, body;
    QByteArray Header(const QByteArray& name) const {
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith(name.toLower() + ':')) {
                return line.mid(name.size() + 1).trimmed();
            }
        }
        return {};
    }
};

class HttpClient {
public:
    // from: the client's own address, another 127.x address to be another client.
    explicit HttpClient(quint16 port, const char* from = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in me{}, server{};
        me.sin_family = server.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &me.sin_addr);
        ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
        server.sin_port = htons(port);
        const timeval t{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
        connected_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&me), sizeof me) == 0 &&
                     ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    }
    ~HttpClient() { ::close(fd_); }
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    bool Connected() const { return connected_; }
    // False once the server no longer takes bytes (closed or reset).
    bool Send(const QByteArray& bytes) {
        for (qsizetype at = 0; at < bytes.size();) {
            const ssize_t n =
                ::send(fd_, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            at += n;
        }
        return true;
    }
    // One answer, its body as long as Content-Length says.
    HttpAnswer Read(int timeoutMs = 10000) {
        HttpAnswer a;
        qsizetype end = -1;
        qint64 length = -1;
        // A second answer may already be here with the first.
        for (bool first = true; end < 0 || buffer_.size() < end + 4 + length; first = false) {
            if (!first && !Fill(timeoutMs)) {
                return a;
            }
            end = buffer_.indexOf("\r\n\r\n");
            if (end >= 0) {
                a.head = buffer_.left(end);
                length = a.Header("content-length").toLongLong();
            }
        }
        a.status = a.head.mid(9, 3).toInt();
        a.body = buffer_.mid(end + 4, length);
        buffer_.remove(0, end + 4 + length);
        return a;
    }
    // True when the server closes the connection (end of stream or a
    // reset) within timeoutMs, any bytes before that dropped.
    bool Closed(int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(timeoutMs - t.elapsed())) <= 0) {
                return false;
            }
            char scrap[4096];
            if (::recv(fd_, scrap, sizeof scrap, 0) <= 0) {
                return true;
            }
        }
        return false;
    }

private:
    bool Fill(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) {
            return false;
        }
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return false;
        }
        buffer_.append(chunk, n);
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
    QByteArray buffer_;
};

inline QByteArray Get(const QByteArray& path, quint16 port, const QByteArray& extra = {}) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n" +
           extra + "\r\n";
}

} // namespace ufd::test
