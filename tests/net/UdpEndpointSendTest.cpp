#include "UdpTestSupport.h"

#include <QTimer>

namespace kavelo {
namespace {

using test::bytesOf;
using test::pattern;
using test::ProbedEndpoint;
using test::processEventsUntil;
using test::RawUdp;

const QString kUnresolvable = QStringLiteral("no-such-peer.invalid");

// An endpoint that sends to a plain socket standing in for the peer.
class Sending : public ::testing::Test {
protected:
    explicit Sending(quint16 peerPort) : peer("127.0.0.1", peerPort)
    {
        endpoint.RemoteHost = QStringLiteral("127.0.0.1");
        endpoint.RemotePort = peerPort;
        endpoint.OnDataSend = [this](Component* sender) {
            EXPECT_EQ(sender, &endpoint);
            ++sent;
        };
    }
    Sending() : Sending(test::testPort(0)) {}

    // What a send raised: its type and message, or nothing.
    struct Raised {
        bool any = false;
        bool isSockError = false;
        QString message;
    };
    Raised send(const QByteArray& buffer, int length)
    {
        try {
            endpoint.SendDatagram(bytesOf(buffer), length);
        } catch (const UdpEndpointError& e) {
            return {true, true, e.Message()};
        } catch (const Exception& e) {
            return {true, false, e.Message()};
        }
        return {};
    }

    void expectNothingArrives() const { EXPECT_FALSE(peer.receive(100).has_value()); }

    RawUdp peer;
    ProbedEndpoint endpoint{nullptr};
    int sent = 0;
};

TEST_F(Sending, SendsTheGivenNumberOfBytesFromTheStartOfTheBuffer)
{
    ASSERT_TRUE(peer.bound());
    const QByteArray buffer = pattern(390);
    EXPECT_FALSE(send(buffer, 390).any);
    EXPECT_EQ(peer.receive(), buffer);
    EXPECT_FALSE(send(buffer, 3).any);
    EXPECT_EQ(peer.receive(), buffer.left(3));
    EXPECT_EQ(sent, 2);
    EXPECT_TRUE(endpoint.lookups.isEmpty()) << "a dotted address needs no lookup";
}

TEST_F(Sending, OnlyTheLow16BitsOfRemotePortCount)
{
    endpoint.RemotePort = 0x10000 + test::testPort(0);
    EXPECT_FALSE(send("abc", 3).any);
    EXPECT_EQ(peer.receive(), QByteArray("abc"));
}

TEST_F(Sending, ToTheNullAddressFailsWithoutSendingAndTheEndpointStaysUsable)
{
    endpoint.RemoteHost = QStringLiteral("0.0.0.0");
    const Raised raised = send("abc", 3);
    EXPECT_TRUE(raised.isSockError);
    EXPECT_EQ(raised.message, QStringLiteral("Null Remote Address"));
    EXPECT_EQ(sent, 0);

    endpoint.RemoteHost = QStringLiteral("127.0.0.1");
    EXPECT_FALSE(send("def", 3).any);
    EXPECT_EQ(peer.receive(), QByteArray("def"));
    EXPECT_EQ(sent, 1);
}

// The buffer-invalid handler's answer and what the send then does.
struct BufferCase {
    const char* name;
    bool handlerAssigned;
    bool setsHandled;
    int newLength;
    const char* fill;          // written over the start of the copy by the handler
    const char* expectedSent;  // nullptr: "Invalid buffer", nothing sent
};

void PrintTo(const BufferCase& c, std::ostream* out) { *out << c.name; }

class InvalidBuffer : public Sending, public ::testing::WithParamInterface<BufferCase> {
protected:
    InvalidBuffer() : Sending(test::testPort(1)) {}
};

TEST_P(InvalidBuffer, AZeroLengthGoesToTheHandlerOnce)
{
    const BufferCase& c = GetParam();
    int asked = 0;
    if (c.handlerAssigned) {
        endpoint.OnBufferInvalid = [&](bool& handled, QByteArray& buff, int& length) {
            ++asked;
            EXPECT_FALSE(handled);
            EXPECT_EQ(length, 0);
            EXPECT_EQ(buff, QByteArray("caller's bytes"));
            buff.replace(0, static_cast<qsizetype>(qstrlen(c.fill)), c.fill);
            handled = c.setsHandled;
            length = c.newLength;
        };
    }
    const QByteArray callers("caller's bytes");
    const Raised raised = send(callers, 0);
    EXPECT_EQ(asked, c.handlerAssigned ? 1 : 0);
    EXPECT_EQ(callers, QByteArray("caller's bytes")) << "the handler works on a copy";
    if (c.expectedSent == nullptr) {
        EXPECT_TRUE(raised.any);
        EXPECT_FALSE(raised.isSockError) << "a plain Exception, not UdpEndpointError";
        EXPECT_EQ(raised.message, QStringLiteral("Invalid buffer"));
        EXPECT_EQ(sent, 0);
        expectNothingArrives();
    } else {
        EXPECT_FALSE(raised.any) << raised.message.toStdString();
        EXPECT_EQ(peer.receive(), QByteArray(c.expectedSent));
        EXPECT_EQ(sent, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InvalidBuffer,
    ::testing::Values(BufferCase{"NoHandler", false, false, 0, "", nullptr},
                      BufferCase{"HandlerLeavesHandledFalse", true, false, 4, "ABCD", nullptr},
                      BufferCase{"HandledButStillEmpty", true, true, 0, "ABCD", nullptr},
                      BufferCase{"HandledWithFourBytes", true, true, 4, "ABCD", "ABCD"},
                      BufferCase{"HandledBeyondTheBuffer", true, true, 15, "", nullptr}),
    [](const ::testing::TestParamInfo<BufferCase>& info) { return std::string(info.param.name); });

TEST_F(Sending, ALengthOutsideTheCallersBufferIsRefused)
{
    const QByteArray buffer = pattern(390);
    for (const int length : {391, -1}) {
        const Raised raised = send(buffer, length);
        EXPECT_EQ(raised.message, QStringLiteral("Invalid buffer")) << length;
        EXPECT_FALSE(raised.isSockError);
    }
    EXPECT_EQ(sent, 0);
    expectNothingArrives();
}

TEST_F(Sending, ReportsSendingDataOnlyFromReportLevel2)
{
    QStringList statuses;
    endpoint.OnStatus = [&](Component* sender, const QString& status) {
        EXPECT_EQ(sender, &endpoint);
        statuses.append(status);
    };
    EXPECT_EQ(endpoint.ReportLevel, 1);
    ASSERT_FALSE(send("a", 1).any);
    EXPECT_TRUE(statuses.isEmpty());
    EXPECT_TRUE(endpoint.StatusText().isEmpty());

    endpoint.ReportLevel = 2;
    ASSERT_FALSE(send("a", 1).any);
    ASSERT_FALSE(send("a", 1).any);
    EXPECT_EQ(statuses, (QStringList{QStringLiteral("Sending Data"), QStringLiteral("Sending Data")}));
    EXPECT_EQ(endpoint.StatusText(), QStringLiteral("Sending Data"));

    // A failure before the address is resolved reports nothing.
    endpoint.RemoteHost = QStringLiteral("0.0.0.0");
    EXPECT_TRUE(send("a", 1).any);
    EXPECT_EQ(statuses.size(), 2);
}

class HostLookup : public Sending {
protected:
    HostLookup() : Sending(test::testPort(2)) {}
};

TEST_F(HostLookup, AHostNameIsLookedUpOnEverySend)
{
    endpoint.RemoteHost = QStringLiteral("localhost");
    ASSERT_FALSE(send("one", 3).any);
    EXPECT_EQ(peer.receive(), QByteArray("one"));
    ASSERT_FALSE(send("two", 3).any);
    EXPECT_EQ(peer.receive(), QByteArray("two"));
    EXPECT_EQ(endpoint.lookups, (QStringList{QStringLiteral("localhost"), QStringLiteral("localhost")}));
    EXPECT_EQ(sent, 2);
}

TEST_F(HostLookup, AnUnresolvableNameIsLookedUpOnceWithoutAHandler)
{
    endpoint.RemoteHost = kUnresolvable;
    const Raised raised = send("abc", 3);
    EXPECT_TRUE(raised.isSockError);
    EXPECT_EQ(raised.message, QStringLiteral("Host Lookup Canceled"));
    EXPECT_EQ(endpoint.lookups, QStringList{kUnresolvable});
    EXPECT_EQ(sent, 0);
    expectNothingArrives();
}

TEST_F(HostLookup, AHandlerThatLeavesHandledFalseEndsItAfterOneLookup)
{
    int asked = 0;
    endpoint.OnInvalidHost = [&](bool& handled) {
        ++asked;
        EXPECT_FALSE(handled);
    };
    endpoint.RemoteHost = kUnresolvable;
    EXPECT_EQ(send("abc", 3).message, QStringLiteral("Host Lookup Canceled"));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(endpoint.lookups.size(), 1);
}

TEST_F(HostLookup, AHandlerThatSetsHandledGetsExactlyOneMoreLookupOfTheSameName)
{
    int asked = 0;
    endpoint.OnInvalidHost = [&](bool& handled) {
        ++asked;
        handled = true;
        endpoint.RemoteHost = QStringLiteral("127.0.0.1");  // the retry keeps the first name
    };
    endpoint.RemoteHost = kUnresolvable;
    const Raised raised = send("abc", 3);
    EXPECT_TRUE(raised.isSockError);
    EXPECT_EQ(raised.message, QStringLiteral("Host Lookup Canceled"));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(endpoint.lookups, (QStringList{kUnresolvable, kUnresolvable}));
    EXPECT_EQ(sent, 0);
    expectNothingArrives();

    // The endpoint stays usable: the next send starts afresh.
    ASSERT_FALSE(send("def", 3).any);
    EXPECT_EQ(peer.receive(), QByteArray("def"));
}

TEST_F(HostLookup, ANameLongerThan127CharactersIsRefusedWithoutALookup)
{
    const QString name127 = QString(127 - 8, QLatin1Char('a')) + QStringLiteral(".invalid");
    endpoint.RemoteHost = name127;
    EXPECT_EQ(send("abc", 3).message, QStringLiteral("Host Lookup Canceled"));
    EXPECT_EQ(endpoint.lookups, QStringList{name127}) << "127 characters still fit";

    endpoint.lookups.clear();
    endpoint.RemoteHost = QLatin1Char('a') + name127;
    const Raised raised = send("abc", 3);
    EXPECT_TRUE(raised.isSockError);
    EXPECT_EQ(raised.message, QStringLiteral("Host Lookup Canceled"));
    EXPECT_TRUE(endpoint.lookups.isEmpty());
    EXPECT_EQ(sent, 0);
    expectNothingArrives();
}

TEST_F(HostLookup, DatagramsArrivingDuringTheWaitAreAnnounced)
{
    const quint16 port = test::testPort(3);
    endpoint.setLocalPort(port);
    auto& received = endpoint.recordReceived();
    RawUdp other;
    // Queued now, so it is handled only once the send waits in its own loop.
    QTimer::singleShot(0, [&] { other.sendTo(port, "during"); });
    endpoint.RemoteHost = QStringLiteral("localhost");
    bool arrivedDuringSend = false;
    endpoint.OnDataSend = [&](Component*) { arrivedDuringSend = !received.empty(); };
    // Events are handled only inside the sends' waits here. The lookup may end
    // before the datagram is seen, so send until one of the waits has seen it.
    for (int i = 0; i < 50 && !arrivedDuringSend; ++i)
        ASSERT_FALSE(send("x", 1).any);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0].bytes, QByteArray("during"));
}

TEST_F(HostLookup, ASendStartedWhileALookupIsPendingIsDroppedNotNested)
{
    endpoint.RemoteHost = QStringLiteral("localhost");
    // Queued now, so it runs only once the outer send waits for its lookup.
    QTimer::singleShot(0, [&] { ASSERT_FALSE(send("inner", 5).any); });
    ASSERT_FALSE(send("outer", 5).any);
    EXPECT_EQ(endpoint.lookups, QStringList{QStringLiteral("localhost")}) << "no lookup inside the lookup";
    EXPECT_EQ(peer.receive(), QByteArray("outer"));
    expectNothingArrives();
    EXPECT_EQ(sent, 1);
}

// Sends that must never wait (voice, from the capture handler).
class BackgroundLookup : public HostLookup {
protected:
    // Sends without waiting; answers whether the datagram went out.
    bool sendNow(const QByteArray& buffer)
    {
        return endpoint.SendDatagram(bytesOf(buffer), static_cast<int>(buffer.size()),
                                     UdpEndpoint::HostLookupWait::Background);
    }
    // Runs the event loop until a send without waiting goes out.
    bool sendOnceFound(const QByteArray& buffer)
    {
        bool out = false;
        processEventsUntil([&] { return out = sendNow(buffer); });
        return out;
    }
};

TEST_F(BackgroundLookup, ANameIsLookedUpOncePerChangeAndSendsMeanwhileAreDropped)
{
    endpoint.RemoteHost = QStringLiteral("localhost");
    EXPECT_FALSE(sendNow("first"));
    EXPECT_FALSE(sendNow("second")) << "the lookup is still under way";
    ASSERT_TRUE(sendOnceFound("found"));
    EXPECT_EQ(peer.receive(), QByteArray("found"));
    EXPECT_TRUE(sendNow("again"));
    EXPECT_EQ(peer.receive(), QByteArray("again"));
    expectNothingArrives();
    EXPECT_EQ(endpoint.lookups, QStringList{QStringLiteral("localhost")});

    endpoint.RemoteHost = QStringLiteral("127.0.0.1");
    EXPECT_TRUE(sendNow("dotted"));
    EXPECT_EQ(peer.receive(), QByteArray("dotted"));
    endpoint.RemoteHost = QStringLiteral("LOCALHOST");
    ASSERT_TRUE(sendOnceFound("changed"));
    EXPECT_EQ(endpoint.lookups, (QStringList{QStringLiteral("localhost"), QStringLiteral("LOCALHOST")}));
}

TEST_F(BackgroundLookup, ANameNotFoundIsToldOnEverySendWithoutAnotherLookup)
{
    endpoint.RemoteHost = kUnresolvable;
    EXPECT_FALSE(sendNow("abc"));
    QString message;
    processEventsUntil([&] {
        try {
            sendNow("abc");
        } catch (const UdpEndpointError& e) {
            message = e.Message();
        }
        return !message.isEmpty();
    });
    EXPECT_EQ(message, QStringLiteral("Host Lookup Canceled"));
    EXPECT_THROW(sendNow("abc"), UdpEndpointError);
    EXPECT_EQ(endpoint.lookups, QStringList{kUnresolvable});
    EXPECT_EQ(sent, 0);
    expectNothingArrives();
}

TEST_F(BackgroundLookup, AWaitingSendDuringABackgroundLookupIsDropped)
{
    endpoint.RemoteHost = QStringLiteral("localhost");
    EXPECT_FALSE(sendNow("voice"));
    ASSERT_FALSE(send("ring", 4).any);
    EXPECT_EQ(endpoint.lookups.size(), 1);
    EXPECT_EQ(sent, 0);
    ASSERT_TRUE(sendOnceFound("voice"));
    EXPECT_EQ(peer.receive(), QByteArray("voice"));
}

} // namespace
} // namespace kavelo
