#include "UdpTestSupport.h"

#include "platform/ComponentData.h"

#include <memory>

namespace kavelo {
namespace {

using test::NoFreeFileDescriptors;
using test::processEventsFor;
using test::processEventsUntil;
using test::ProbedEndpoint;
using test::RawUdp;

TEST(EndpointLocalPort, WritingTheSamePortAgainRecreatesTheSocketAndStaysBound)
{
    const quint16 port = test::testPort(0);
    ProbedEndpoint endpoint(nullptr);
    endpoint.setLocalPort(port);
    auto& received = endpoint.recordReceived();
    RawUdp peer;
    ASSERT_TRUE(peer.sendTo(port, "queued on the old socket"));
    endpoint.setLocalPort(port);  // closes the socket that holds it
    EXPECT_EQ(endpoint.LocalPort(), port);
    ASSERT_TRUE(peer.sendTo(port, "new"));
    ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));
    processEventsFor(50);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, QByteArray("new"));
}

TEST(EndpointLocalPort, ANewPortMovesTheBindingAndFreesTheOldPort)
{
    const quint16 oldPort = test::testPort(1);
    const quint16 newPort = test::testPort(2);
    ProbedEndpoint endpoint(nullptr);
    endpoint.setLocalPort(oldPort);
    endpoint.setLocalPort(newPort);
    auto& received = endpoint.recordReceived();

    RawUdp onOldPort("127.0.0.1", oldPort);
    EXPECT_TRUE(onOldPort.bound()) << "the old port was given back";
    RawUdp peer;
    ASSERT_TRUE(peer.sendTo(newPort, "here"));
    ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received[0].bytes, QByteArray("here"));
}

TEST(EndpointLocalPort, OnlyTheLow16BitsAreBoundButTheValueIsKept)
{
    const int value = 0x10000 + test::testPort(3);
    ProbedEndpoint endpoint(nullptr);
    endpoint.setLocalPort(value);
    EXPECT_EQ(endpoint.LocalPort(), value);
    auto& received = endpoint.recordReceived();
    RawUdp peer;
    ASSERT_TRUE(peer.sendTo(test::testPort(3), "low"));
    ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));
}

TEST(EndpointLocalPort, InTheDesignStateNothingIsBound)
{
    const quint16 port = test::testPort(4);
    ProbedEndpoint endpoint(nullptr);
    endpoint.setDesigning(true);
    endpoint.setLocalPort(port);
    EXPECT_EQ(endpoint.LocalPort(), port);
    RawUdp onThePort("127.0.0.1", port);
    EXPECT_TRUE(onThePort.bound());
}

TEST(EndpointStoredData, PublishedPropertiesAreWrittenInOrderWithTheirValuesAfterCreation)
{
    QObject form;
    auto* endpoint = new UdpEndpoint(&form);
    endpoint->setObjectName(QStringLiteral("sender"));
    EXPECT_EQ(writeComponentData({endpoint}),
              QByteArray("object sender: UdpEndpoint\n"
                         "  RemoteHost = ''\n"
                         "  RemotePort = 0\n"
                         "  LocalPort = 0\n"
                         "  ReportLevel = 1\n"
                         "end\n"));
}

TEST(EndpointStoredData, LoadingBindsTheEndpointToTheStoredPort)
{
    const quint16 port = test::testPort(5);
    QObject form;
    auto* endpoint = new ProbedEndpoint(&form);
    endpoint->setObjectName(QStringLiteral("receiver"));
    readComponentData(&form, QByteArray("object receiver: UdpEndpoint\n"
                                        "  RemoteHost = '127.0.0.1'\n"
                                        "  RemotePort = 5551\n"
                                        "  LocalPort = ")
                                 + QByteArray::number(port)
                                 + "\n  ReportLevel = 1\nend\n");
    EXPECT_EQ(endpoint->RemoteHost, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(endpoint->RemotePort, 5551);
    EXPECT_EQ(endpoint->LocalPort(), port);
    EXPECT_FALSE(endpoint->componentState().testFlag(Component::csLoading));

    // The end of loading binds once more; that fails quietly and the first binding holds.
    auto& received = endpoint->recordReceived();
    RawUdp peer;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(peer.sendTo(port, "stored"));
    ASSERT_TRUE(processEventsUntil([&] { return received.size() == 3; }));
    processEventsFor(50);
    EXPECT_EQ(received.size(), 3u);
}

// A socket the system refuses: errno, what is raised and what is reported.
struct RefusalCase {
    const char* name;
    int code;
    const char* message;  // nullptr: passed over, nothing raised
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class SocketRefused : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(SocketRefused, TheErrorCheckRaisesEveryCodeButWouldBlock)
{
    const RefusalCase& c = GetParam();
    ProbedEndpoint endpoint(nullptr);
    endpoint.ReportLevel = 16;
    QStringList statuses;
    endpoint.OnStatus = [&](Component*, const QString& status) { statuses.append(status); };
    QStringList socketErrors;
    endpoint.OnSocketError = [&](Component* sender, quint16 code, const QString& message) {
        EXPECT_EQ(sender, &endpoint);
        socketErrors.append(QStringLiteral("%1 %2").arg(code).arg(message));
    };

    endpoint.refuseSocketWith = c.code;
    QString raised;
    bool isSockError = false;
    try {
        endpoint.setLocalPort(test::testPort(6));
    } catch (const UdpEndpointError& e) {
        isSockError = true;
        raised = e.Message();
    }
    EXPECT_EQ(endpoint.LastErrorCode(), c.code);
    if (c.message == nullptr) {
        EXPECT_FALSE(isSockError);
        EXPECT_TRUE(socketErrors.isEmpty());
        EXPECT_EQ(statuses, QStringList{QStringLiteral("Checking Error In Error Manager")});
        EXPECT_EQ(endpoint.LocalPort(), test::testPort(6)) << "the endpoint goes on without a socket";
    } else {
        const QString message = QString::fromLatin1(c.message);
        EXPECT_TRUE(isSockError);
        EXPECT_EQ(raised, message);
        EXPECT_EQ(socketErrors, QStringList{QStringLiteral("%1 %2").arg(c.code).arg(message)});
        EXPECT_EQ(statuses, (QStringList{QStringLiteral("Checking Error In Error Manager"),
                                         QStringLiteral("Looking Up Error Message") + message}));
        EXPECT_EQ(endpoint.StatusText(), QStringLiteral("Looking Up Error Message") + message);
        EXPECT_EQ(endpoint.LocalPort(), 0) << "a failed write stores nothing";
    }

    // Without a socket a send still completes; the system's refusal is not reported.
    int sent = 0;
    endpoint.OnDataSend = [&](Component*) { ++sent; };
    endpoint.RemoteHost = QStringLiteral("127.0.0.1");
    endpoint.RemotePort = test::testPort(7);
    endpoint.SendDatagram(test::bytesOf("abc"), 3);
    EXPECT_EQ(sent, 1);

    // The next write starts afresh.
    endpoint.setLocalPort(test::testPort(6));
    auto& received = endpoint.recordReceived();
    RawUdp peer;
    ASSERT_TRUE(peer.sendTo(test::testPort(6), "back"));
    ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SocketRefused,
    ::testing::Values(RefusalCase{"WouldBlock", EWOULDBLOCK, nullptr},
                      // Both hold every bit of the would-block code without being it.
                      RefusalCase{"TooManyLinks", EMLINK, "Unknown Error No. 31"},
                      RefusalCase{"ConnectionRefused", ECONNREFUSED, "Unknown Error No. 111"},
                      RefusalCase{"AddressFamily", EAFNOSUPPORT, "Unknown Error No. 97"},
                      RefusalCase{"TooManyFiles", EMFILE, "Unknown Error No. 24"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// The undefined-behaviour checker looks at each dynamic type once, through a
// pipe of its own; it must see the types met on the failure path while
// descriptors are still free, or it takes them for corrupt objects.
class SocketRefusedBySystem : public ::testing::Test {};

TEST_F(SocketRefusedBySystem, AtCreationTheConstructorRaises)
{
    {
        UdpEndpoint seen(nullptr);
        seen.RemoteHost = QStringLiteral("0.0.0.0");
        EXPECT_THROW(seen.SendDatagram(test::bytesOf("x"), 1), UdpEndpointError);
    }
    std::unique_ptr<UdpEndpoint> endpoint;
    QString raised;
    {
        NoFreeFileDescriptors limit;
        try {
            endpoint = std::make_unique<UdpEndpoint>(nullptr);
        } catch (const UdpEndpointError& e) {
            raised = e.Message();
        }
    }
    EXPECT_EQ(raised, QStringLiteral("Unknown Error No. %1").arg(EMFILE));
    EXPECT_EQ(endpoint, nullptr);
}

TEST_F(SocketRefusedBySystem, OnAPortWriteOnSocketErrorIsFiredAndTheEndpointRecovers)
{
    const quint16 port = test::testPort(8);
    ProbedEndpoint endpoint(nullptr);
    QList<quint16> codes;
    std::optional<NoFreeFileDescriptors> limit;
    endpoint.OnSocketError = [&](Component*, quint16 code, const QString& message) {
        if (limit)
            limit->lift();
        codes.append(code);
        EXPECT_EQ(message, QStringLiteral("Unknown Error No. %1").arg(code));
    };
    // The same failure staged first, with descriptors free (see above).
    endpoint.refuseSocketWith = EMFILE;
    EXPECT_THROW(endpoint.setLocalPort(port), UdpEndpointError);
    codes.clear();

    QString raised;
    limit.emplace();
    try {
        endpoint.setLocalPort(port);
    } catch (const UdpEndpointError& e) {
        raised = e.Message();
    }
    limit.reset();
    EXPECT_EQ(codes, QList<quint16>{EMFILE});
    EXPECT_EQ(raised, QStringLiteral("Unknown Error No. 24"));
    EXPECT_EQ(endpoint.LastErrorCode(), EMFILE);

    endpoint.setLocalPort(port);
    auto& received = endpoint.recordReceived();
    RawUdp peer;
    ASSERT_TRUE(peer.sendTo(port, "recovered"));
    ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received[0].bytes, QByteArray("recovered"));
}

TEST(EndpointDestruction, AnnouncesNothingAfterwardsAndGivesThePortBack)
{
    const quint16 port = test::testPort(9);
    int announced = 0;
    {
        ProbedEndpoint endpoint(nullptr);
        endpoint.setLocalPort(port);
        endpoint.OnDataReceived = [&](Component*, int, const QString&, int) { ++announced; };
        RawUdp peer;
        ASSERT_TRUE(peer.sendTo(port, "late"));
    }
    processEventsFor(50);
    EXPECT_EQ(announced, 0);
    RawUdp again("127.0.0.1", port);
    EXPECT_TRUE(again.bound());
}

} // namespace
} // namespace kavelo
