// notice-listen: stands in for the station on the notice channel
// ($UFD_NOTICE_CHANNEL) and prints every notice as one line,
// "<milliseconds since the epoch> <text>", so guest tests can see what
// Vasket said and when.
#include "platform/notice_channel.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>
#include <err.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each line as it comes, into a file too
    ufd::NoticeServer server;
    if (!server.Listen()) {
        errx(2, "cannot listen on %s", qPrintable(ufd::NoticeChannelName()));
    }
    QObject::connect(&server, &ufd::NoticeServer::NoticeReceived, [](const QByteArray& text) {
        std::printf("%lld %s\n", static_cast<long long>(QDateTime::currentMSecsSinceEpoch()),
                    text.constData());
    });
    std::printf("listening\n");
    return app.exec();
}
