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

class NoticeServer : public QObject {
    Q_OBJECT
public:
    explicit NoticeServer(QObject* parent = nullptr);
    ~NoticeServer() override;
    // Listens on the name (a stale socket of a dead station is removed).
    bool Listen(const QString& name = NoticeChannelName());
    QString Name() const;

signals:
    // The whole notice: every byte the sender wrote before closing.
    void NoticeReceived(const QByteArray& text);

private:
    QLocalServer* server_;
};

// Sends one notice and closes; false when nobody listens or it times out.
bool SendNotice(const QByteArray& text, const QString& name = NoticeChannelName(),
                int timeoutMilliseconds = 1000);

} // namespace ufd
