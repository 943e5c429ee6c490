// The channel over which Vasket tells the station that drives came or went:
// a Qt local socket; one connection carries one notice, and its bytes are
// the notice text exactly.
#pragma once

#include "base/unique_fd.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>
#include <sys/types.h>

class QLocalServer;
class QTimer;

namespace ufd {

// $UFD_NOTICE_CHANNEL, else "ufd-station-<uid>".
QString NoticeChannelName();

// Where the channel's socket lives: the name itself when it is a path, else
// in the private runtime directory. Empty, and the refusal naming the
// directory in *refusal, when that directory fails its check.
QString NoticeSocketPath(const QString& name, QString* refusal = nullptr);

// How claiming a channel for a station ended.
enum class ClaimResult {
    Listening,
    Taken,  // another station (or another program) listens on it
    Failed, // the socket or its lock could not be made
};

class NoticeServer : public QObject {
    Q_OBJECT
public:
    explicit NoticeServer(QObject* parent = nullptr);
    ~NoticeServer() override;
    // Listens on the name, replacing any socket there, live or not: for
    // stand-ins of a station. A station claims its channel instead.
    bool Listen(const QString& name = NoticeChannelName());
    // Listens only if no other station holds the channel: a lock beside the
    // socket, held for the server's life, marks the holder; a socket file
    // nobody answers on is stale and is replaced.
    ClaimResult Claim(const QString& name = NoticeChannelName());
    // Why the last Claim failed, when it can be said (the runtime directory
    // was refused).
    QString Refusal() const { return refusal_; }

    // At most this many connections are open at once; more are refused at
    // once, so a flood can never exhaust the station's descriptors.
    static constexpr int kMaxOpenConnections = 64;

Q_SIGNALS:
    // The whole notice: every byte the sender wrote before closing.
    void NoticeReceived(const QByteArray& text);
    // Something that loses or may lose notices, said as it happens:
    // connections refused at the cap, the channel closed or its socket file
    // gone (and listened on again, or not).
    void Warning(const QString& text);

private:
    void ReleaseLock();
    void StartWatch(const QString& path);
    void Watch();

    QLocalServer* server_;
    QTimer* watch_;
    QString path_;
    bool relistenFailed_ = false;
    int open_ = 0;
    int refused_ = 0;
    UniqueFd lockFd_;
    QByteArray lockPath_;
    QString refusal_;
};

struct Delivery {
    bool delivered = false;
    // The process that accepted the connection, from the socket's peer
    // credentials; lets Vasket follow a station that did not pass its id.
    std::optional<pid_t> listener;
};

// Sends one notice the way the channel expects (one connection, the exact
// bytes, then close) and tells who took it; not delivered when nobody
// listens or a step times out.
Delivery DeliverNotice(const QByteArray& text, const QString& channel, int timeoutMilliseconds);

} // namespace ufd
