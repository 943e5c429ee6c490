// The station's end of the notice channel, kept apart from the window so the
// window's code can be built without Qt's keyword macros.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace ufd {

struct NoticeListener {
    // Hands every notice's bytes to onNotice; nullptr when not listening.
    std::unique_ptr<QObject> receiver;
    // Another station already listens on the channel.
    bool taken = false;
    // The runtime directory was refused (the message names it).
    QString refusal;
};

// Listens on the channel unless another station holds it; onWarning hears
// of every way notices may have been lost while listening.
NoticeListener ListenForNotices(const QString& channel,
                                std::function<void(const QByteArray&)> onNotice,
                                std::function<void(const QString&)> onWarning = {});
// The channel the monitor posts to ($UFD_NOTICE_CHANNEL or the user's own).
QString StationNoticeChannel();

} // namespace ufd
