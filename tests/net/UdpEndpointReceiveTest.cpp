#include "UdpTestSupport.h"

#include <QEventLoop>
#include <QTimer>
#include <array>

namespace kavelo {
namespace {

using test::bytesOf;
using test::pattern;
using test::processEventsFor;
using test::processEventsUntil;
using test::ProbedEndpoint;
using test::RawUdp;


// A bound receiving endpoint and a sending one, as the main window has them.
class Receiving : public ::testing::Test {
protected:
    void SetUp() override
    {
        receiver.setLocalPort(receiverPort);
        sender.setLocalPort(senderPort);
        sender.RemoteHost = QStringLiteral("127.0.0.1");
        sender.RemotePort = receiverPort;
    }

    const quint16 receiverPort = test::testPort(1);
    const quint16 senderPort = test::testPort(2);
    ProbedEndpoint receiver{nullptr};
    ProbedEndpoint sender{nullptr};
};

TEST_F(Receiving, ADatagramIsAnnouncedWithItsSizeSenderAndPortAndCanBeReadAgainAndAgain)
{
    auto& received = receiver.recordReceived();
    const QByteArray ring = pattern(390);
    sender.SendDatagram(bytesOf(ring), 390);
    ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));

    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].numberBytes, 390);
    EXPECT_EQ(received[0].fromIP, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(received[0].port, senderPort);
    EXPECT_EQ(received[0].bytes, ring);

    // Reading does not consume: every read until the next datagram returns it again.
    for (int read = 0; read < 2; ++read) {
        std::array<char, 390> buffer{};
        int length = -1;
        receiver.ReadDatagram(buffer, length);
        EXPECT_EQ(length, 390);
        EXPECT_EQ(QByteArray(buffer.data(), length), ring);
    }
    processEventsFor(50);
    EXPECT_EQ(received.size(), 1u) << "one datagram, one event";
}

TEST_F(Receiving, TheSenderAddressIsWrittenFirstByteFirst)
{
    const quint16 peerPort = test::testPort(5);
    RawUdp peer("127.0.0.7", peerPort);
    ASSERT_TRUE(peer.bound());
    auto& received = receiver.recordReceived();
    ASSERT_TRUE(peer.sendTo(receiverPort, "hello"));
    ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received[0].fromIP, QStringLiteral("127.0.0.7"));
    EXPECT_EQ(received[0].port, peerPort);
    EXPECT_EQ(received[0].bytes, QByteArray("hello"));
}

TEST_F(Receiving, AnEmptyDatagramIsAnnouncedWithZeroBytes)
{
    auto& received = receiver.recordReceived();
    RawUdp peer;
    ASSERT_TRUE(peer.sendTo(receiverPort, QByteArray()));
    ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received[0].numberBytes, 0);
    EXPECT_TRUE(received[0].bytes.isEmpty());
}

TEST_F(Receiving, SeveralDatagramsInARowAreEachAnnouncedOnceInOrder)
{
    auto& received = receiver.recordReceived();
    for (int i = 0; i < 20; ++i)
        sender.SendDatagram(bytesOf(pattern(100 + i, i)), 100 + i);
    ASSERT_TRUE(processEventsUntil([&] { return received.size() == 20; }));
    processEventsFor(50);
    ASSERT_EQ(received.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(received[static_cast<std::size_t>(i)].numberBytes, 100 + i);
        EXPECT_EQ(received[static_cast<std::size_t>(i)].bytes, pattern(100 + i, i));
    }
}

TEST_F(Receiving, ReadDatagramNeverWritesPastTheCallersBuffer)
{
    auto& received = receiver.recordReceived();
    sender.SendDatagram(bytesOf(pattern(390)), 390);
    ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));

    std::array<char, 110> buffer;
    buffer.fill('#');
    int length = -1;
    receiver.ReadDatagram(std::span<char>(buffer.data(), 100), length);
    EXPECT_EQ(length, 100);
    EXPECT_EQ(QByteArray(buffer.data(), 100), pattern(390).left(100));
    EXPECT_EQ(QByteArray(buffer.data() + 100, 10), QByteArray(10, '#'));
}

TEST_F(Receiving, DatagramsUpTo2048BytesArriveWholeLongerOnesAreDroppedWithoutAnEvent)
{
    auto& received = receiver.recordReceived();
    RawUdp peer;
    ASSERT_TRUE(peer.sendTo(receiverPort, pattern(2048, 1)));
    ASSERT_TRUE(processEventsUntil([&] { return received.size() == 1; }));
    EXPECT_EQ(received[0].numberBytes, 2048);
    EXPECT_EQ(received[0].bytes, pattern(2048, 1));

    ASSERT_TRUE(peer.sendTo(receiverPort, pattern(2049, 2)));
    ASSERT_TRUE(peer.sendTo(receiverPort, pattern(60000, 3)));
    ASSERT_TRUE(peer.sendTo(receiverPort, "after"));
    ASSERT_TRUE(processEventsUntil([&] { return received.size() == 2; }));
    processEventsFor(50);
    ASSERT_EQ(received.size(), 2u) << "the oversize datagrams announced nothing";
    EXPECT_EQ(received[1].numberBytes, 5);
    EXPECT_EQ(received[1].bytes, QByteArray("after"));
}

TEST_F(Receiving, AfterAnOversizeDatagramNothingOfItCanBeRead)
{
    RawUdp peer;
    ASSERT_TRUE(peer.sendTo(receiverPort, pattern(3000)));
    // No handler: nothing announces when it has been read, so wait a little.
    processEventsFor(100);
    std::array<char, 2048> buffer{};
    int length = -1;
    receiver.ReadDatagram(buffer, length);
    EXPECT_EQ(length, 0);
}

TEST_F(Receiving, WithoutAHandlerADatagramIsReadAndDropped)
{
    sender.SendDatagram(bytesOf(QByteArray("first")), 5);
    processEventsFor(100);

    // Had the first datagram been left waiting, it would be announced now.
    auto& received = receiver.recordReceived();
    sender.SendDatagram(bytesOf(QByteArray("second")), 6);
    ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));
    processEventsFor(50);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, QByteArray("second"));
}

TEST_F(Receiving, ADatagramArrivingWhileAHandlerRunsANestedLoopIsAnnouncedInsideThatLoop)
{
    QStringList log;
    int depth = 0;
    receiver.OnDataReceived = [&](Component*, int n, const QString&, int) {
        std::array<char, 16> buffer{};
        int length = 0;
        receiver.ReadDatagram(buffer, length);
        const QString text = QString::fromLatin1(buffer.data(), length);
        log.append(QStringLiteral("%1 at depth %2 (%3 bytes)").arg(text).arg(depth).arg(n));
        if (text != QStringLiteral("first"))
            return;
        // What a modal message box does: run the event loop until it is closed.
        ++depth;
        QEventLoop modal;
        QTimer::singleShot(0, [&] { sender.SendDatagram(bytesOf(QByteArray("second")), 6); });
        QTimer::singleShot(3000, &modal, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (log.size() == 2)
                modal.quit();
        });
        poll.start(5);
        modal.exec();
        --depth;
    };
    sender.SendDatagram(bytesOf(QByteArray("first")), 5);
    ASSERT_TRUE(processEventsUntil([&] { return log.size() >= 2; }));
    EXPECT_EQ(log, (QStringList{QStringLiteral("first at depth 0 (5 bytes)"),
                                QStringLiteral("second at depth 1 (6 bytes)")}));
}

TEST_F(Receiving, AnExceptionFromTheHandlerBecomesAnErrorBoxAndReceivingGoesOn)
{
    test::ErrorBoxCatcher errors;
    int announced = 0;
    receiver.OnDataReceived = [&](Component*, int, const QString&, int) {
        if (++announced == 1)
            throw Exception(QStringLiteral("handler failed"));
    };
    sender.SendDatagram(bytesOf(QByteArray("one")), 3);
    sender.SendDatagram(bytesOf(QByteArray("two")), 3);
    ASSERT_TRUE(processEventsUntil([&] { return announced == 2; }));
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("handler failed")});
}

TEST(ReceivingEndpoint, AnEndpointThatWasNeverBoundReceivesNothing)
{
    ProbedEndpoint unbound(nullptr);
    auto& received = unbound.recordReceived();
    // Sending from it binds it to a port the system picks; replies there stay unannounced.
    RawUdp peer("127.0.0.1", test::testPort(3));
    unbound.RemoteHost = QStringLiteral("127.0.0.1");
    unbound.RemotePort = test::testPort(3);
    unbound.SendDatagram(bytesOf(QByteArray("ping")), 4);
    quint16 sourcePort = 0;
    ASSERT_EQ(peer.receive(2000, &sourcePort), QByteArray("ping"));
    ASSERT_NE(sourcePort, 0);
    ASSERT_TRUE(peer.sendTo(sourcePort, "pong"));
    processEventsFor(100);
    EXPECT_TRUE(received.empty());
}

TEST(ReceivingEndpoint, OfTwoEndpointsOnOnePortOnlyTheFirstReceives)
{
    const quint16 port = test::testPort(4);
    ProbedEndpoint first(nullptr);
    ProbedEndpoint second(nullptr);
    first.setLocalPort(port);
    second.setLocalPort(port);  // its bind fails quietly
    auto& toFirst = first.recordReceived();
    auto& toSecond = second.recordReceived();
    RawUdp peer;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(peer.sendTo(port, "x"));
    ASSERT_TRUE(processEventsUntil([&] { return toFirst.size() == 5; }));
    processEventsFor(50);
    EXPECT_TRUE(toSecond.empty());
}

} // namespace
} // namespace kavelo
