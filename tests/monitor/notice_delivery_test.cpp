#include "monitor/notice_delivery.h"

#include "platform/notice_channel.h"

#include <QCoreApplication>
#include <QTest>
#include <QUuid>

#include <gtest/gtest.h>

#include <vector>

namespace ufd {
namespace {

QString UniqueChannel() {
    return QStringLiteral("ufd-delivery-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

TEST(NoticeDelivery, TheStationGetsTheExactBytesAndIsKnownByItsProcess) {
    const QString channel = UniqueChannel();
    NoticeServer server;
    ASSERT_TRUE(server.Listen(channel));
    std::vector<QByteArray> received;
    QObject::connect(&server, &NoticeServer::NoticeReceived,
                     [&](const QByteArray& text) { received.push_back(text); });

    for (const QByteArray& text : {QByteArray("IN"), QByteArray("OUT")}) {
        const Delivery delivery = DeliverNotice(text, channel, 2000);
        EXPECT_TRUE(delivery.delivered);
        ASSERT_TRUE(delivery.listener);
        // The server lives in this very process.
        EXPECT_EQ(*delivery.listener, QCoreApplication::applicationPid());
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 2; }, 5000));
    EXPECT_EQ(received, (std::vector<QByteArray>{"IN", "OUT"}));
}

TEST(NoticeDelivery, NobodyListeningIsNoDeliveryAndNoListener) {
    const Delivery delivery = DeliverNotice("IN", UniqueChannel(), 500);
    EXPECT_FALSE(delivery.delivered);
    EXPECT_FALSE(delivery.listener);
}

} // namespace
} // namespace ufd
