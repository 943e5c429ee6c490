#include "station/notice_receiver.h"

#include "platform/notice_channel.h"

namespace ufd {

std::unique_ptr<QObject> ListenForNotices(const QString& channel,
                                          std::function<void(const QByteArray&)> onNotice) {
    auto server = std::make_unique<NoticeServer>();
    if (!server->Listen(channel)) {
        return nullptr;
    }
    QObject::connect(
        server.get(), &NoticeServer::NoticeReceived, server.get(),
        [onNotice = std::move(onNotice)](const QByteArray& bytes) { onNotice(bytes); });
    return server;
}

QString StationNoticeChannel() {
    return NoticeChannelName();
}

bool SendStationNotice(const QByteArray& text, const QString& channel) {
    return SendNotice(text, channel);
}

} // namespace ufd
