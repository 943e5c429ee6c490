// The channel over which Vasket tells the station that drives came or went:
// a Qt local socket; one connection carries one notice, and its bytes are
// the notice text exactly.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;

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
    QString Name() const;
    // Why the last Claim failed, when it can be said (the runtime directory
    // was refused).
    QString Refusal() const { return refusal_; }

signals:
    // The whole notice: every byte the sender wrote before closing.
    void NoticeReceived(const QByteArray& text);

private:
    void ReleaseLock();

    QLocalServer* server_;
    int lockFd_ = -1;
    QByteArray lockPath_;
    QString refusal_;
};

// Sends one notice and closes; false when nobody listens or it times out.
bool SendNotice(const QByteArray& text, const QString& name = NoticeChannelName(),
                int timeoutMilliseconds = 1000);

} // namespace ufd
