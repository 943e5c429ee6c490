#include "station/notice_receiver.h"

#include "platform/notice_channel.h"

namespace ufd {

NoticeListener ListenForNotices(const QString& channel,
                                std::function<void(const QByteArray&)> onNotice,
                                std::function<void(const QString&)> onWarning) {
    NoticeListener listener;
    auto server = std::make_unique<NoticeServer>();
    const ClaimResult claimed = server->Claim(channel);
    if (claimed != ClaimResult::Listening) {
        listener.taken = claimed == ClaimResult::Taken;
        listener.refusal = server->Refusal();
        return listener;
    }
    QObject::connect(
        server.get(), &NoticeServer::NoticeReceived, server.get(),
        [onNotice = std::move(onNotice)](const QByteArray& bytes) { onNotice(bytes); });
    if (onWarning) {
        QObject::connect(
            server.get(), &NoticeServer::Warning, server.get(),
            [onWarning = std::move(onWarning)](const QString& text) { onWarning(text); });
    }
    listener.receiver = std::move(server);
    return listener;
}

QString StationNoticeChannel() {
    return NoticeChannelName();
}

} // namespace ufd
