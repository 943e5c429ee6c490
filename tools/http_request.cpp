#include "http_request.h"

namespace ufd {

namespace {

bool IsToken(const QByteArray& s) {
    if (s.isEmpty()) {
        return false;
    }
    for (const char c : s) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && QByteArrayView("!#$%&'*+-.^_`|~").indexOf(c) < 0) {
            return false;
        }
    }
    return true;
}

bool HasControl(const QByteArray& s) {
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f) {
            return true;
        }
    }
    return false;
}

} // namespace

QByteArray HttpRequest::Header(const QByteArray& lowerName) const {
    for (const auto& [name, value] : headers) {
        if (name == lowerName) {
            return value;
        }
    }
    return {};
}

bool HttpRequest::Has(const QByteArray& lowerName) const {
    for (const auto& header : headers) {
        if (header.first == lowerName) {
            return true;
        }
    }
    return false;
}

bool HttpRequest::KeepAlive() const {
    bool close = false, keep = false;
    for (const auto& [name, value] : headers) {
        if (name != "connection") {
            continue;
        }
        for (const QByteArray& option : value.split(',')) {
            const QByteArray o = option.trimmed().toLower();
            close = close || o == "close";
            keep = keep || o == "keep-alive";
        }
    }
    return !close && (version == "HTTP/1.1" || keep);
}

qsizetype HttpRequestParser::Room() const {
    if (state_ != State::Incomplete) {
        return 0;
    }
    // One byte past each limit is enough to tell that it was passed.
    const qsizetype budget = phase_ == Phase::Line      ? limits_.line + 2
                             : phase_ == Phase::Headers ? limits_.headers + 2 - headerBytes_
                                                        : bodyLength_;
    return std::max<qsizetype>(0, budget + 1 - buffer_.size());
}

HttpRequestParser::State HttpRequestParser::Feed(QByteArrayView bytes) {
    if (state_ != State::Incomplete) {
        return state_;
    }
    const QByteArrayView taken = bytes.first(std::min(bytes.size(), Room()));
    // Exactly what is held, not a doubled capacity: a hundred clients each
    // at its limit cost a hundred limits.
    if (buffer_.capacity() < buffer_.size() + taken.size()) {
        buffer_.reserve(buffer_.size() + taken.size());
    }
    buffer_.append(taken);
    return Parse();
}

HttpRequestParser::State HttpRequestParser::Next() {
    if (state_ == State::Failed) {
        return state_;
    }
    request_ = {};
    if (buffer_.isEmpty()) {
        buffer_ = QByteArray(); // an idle connection holds no buffer
    }
    phase_ = Phase::Line;
    headerBytes_ = 0;
    bodyLength_ = 0;
    state_ = State::Incomplete;
    return Parse();
}

HttpRequestParser::State HttpRequestParser::Fail(int status, const char* reason) {
    failStatus_ = status;
    failReason_ = reason;
    buffer_.clear();
    return state_ = State::Failed;
}

HttpRequestParser::State HttpRequestParser::Parse() {
    while (phase_ != Phase::Body) {
        const qsizetype end = buffer_.indexOf('\n');
        if (end < 0) {
            if (phase_ == Phase::Line && buffer_.size() > limits_.line + 1) {
                return Fail(414, "request line too long");
            }
            if (phase_ == Phase::Headers && headerBytes_ + buffer_.size() > limits_.headers + 1) {
                return Fail(431, "request headers too large");
            }
            return state_;
        }
        QByteArray line = buffer_.left(end);
        buffer_.remove(0, end + 1);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (phase_ == Phase::Line) {
            if (line.size() > limits_.line) {
                return Fail(414, "request line too long");
            }
            if (line.isEmpty()) {
                continue; // a blank line before a request is tolerated
            }
            if (!ParseLine(line)) {
                return state_;
            }
            phase_ = Phase::Headers;
            continue;
        }
        headerBytes_ += end + 1;
        if (headerBytes_ > limits_.headers + 2) {
            return Fail(431, "request headers too large");
        }
        if (line.isEmpty()) {
            if (HeadersDone() == State::Failed) {
                return state_;
            }
            break;
        }
        if (!ParseHeader(line)) {
            return state_;
        }
    }
    if (buffer_.size() < bodyLength_) {
        return state_;
    }
    request_.body = buffer_.left(bodyLength_);
    buffer_.remove(0, bodyLength_);
    return state_ = State::Complete;
}

bool HttpRequestParser::ParseLine(const QByteArray& line) {
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !IsToken(parts[0]) || parts[1].isEmpty() || HasControl(line)) {
        Fail(400, "malformed request line");
        return false;
    }
    if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0") {
        Fail(parts[2].startsWith("HTTP/") ? 505 : 400, "HTTP/1.1 or HTTP/1.0 only");
        return false;
    }
    request_.method = parts[0];
    request_.target = parts[1];
    request_.version = parts[2];
    return true;
}

bool HttpRequestParser::ParseHeader(const QByteArray& line) {
    const qsizetype colon = line.indexOf(':');
    const QByteArray name = line.left(colon);
    // A name must touch its colon; a line starting with a blank continues the
    // last one in an obsolete form that smuggles headers past other readers.
    if (colon <= 0 || !IsToken(name) || HasControl(line)) {
        Fail(400, "malformed header line");
        return false;
    }
    if (request_.headers.size() >= limits_.headerCount) {
        Fail(431, "too many request headers");
        return false;
    }
    request_.headers.append({name.toLower(), line.mid(colon + 1).trimmed()});
    return true;
}

HttpRequestParser::State HttpRequestParser::HeadersDone() {
    if (request_.Has("transfer-encoding")) {
        return Fail(501, "no transfer coding is accepted");
    }
    QByteArray length;
    for (const auto& [name, value] : request_.headers) {
        if (name == "content-length") {
            if (!length.isNull() && value != length) {
                return Fail(400, "two different Content-Length headers");
            }
            length = value;
        }
    }
    int hosts = 0;
    for (const auto& header : request_.headers) {
        hosts += header.first == "host" ? 1 : 0;
    }
    if (hosts > 1 || (hosts == 0 && request_.version == "HTTP/1.1")) {
        return Fail(400, "an HTTP/1.1 request names its Host once");
    }
    if (!length.isNull()) {
        bool ok = !length.isEmpty();
        for (const char c : length) {
            ok = ok && c >= '0' && c <= '9';
        }
        if (!ok || length.size() > 18) {
            return Fail(ok ? 413 : 400, ok ? "request body too large" : "malformed Content-Length");
        }
        bodyLength_ = length.toLongLong();
        if (bodyLength_ > limits_.body) {
            return Fail(413, "request body too large");
        }
    }
    phase_ = Phase::Body;
    return state_;
}

} // namespace ufd
