// Receive path throughput: datagrams per second from one endpoint to another
// on loopback, through the event loop and OnDataReceived, next to a bare
// recvfrom loop over a plain socket pair. Prints the ratio of the two.

#include "net/NMUDP.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <arpa/inet.h>
#include <array>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using kavelo::TComponent;
using kavelo::TNMUDP;

// A batch stays well inside the receive queue, so loopback loses nothing.
constexpr int kBatch = 32;
constexpr int kDatagramSize = 390;  // one voice datagram
constexpr quint16 kEndpointPort = 42001;
constexpr quint16 kBarePort = 42003;
constexpr int kStallMs = 5000;

double endpointRate = 0;
double bareRate = 0;

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

double perSecond(long count, std::chrono::steady_clock::duration elapsed)
{
    return static_cast<double>(count) / std::chrono::duration<double>(elapsed).count();
}

void BM_EndpointReceive(benchmark::State& state)
{
    TNMUDP receiver(nullptr);
    receiver.setLocalPort(kEndpointPort);
    TNMUDP sender(nullptr);
    sender.RemoteHost = QStringLiteral("127.0.0.1");
    sender.RemotePort = kEndpointPort;

    std::array<char, kDatagramSize> out{};
    std::array<char, TNMUDP::kReceiveBufferSize> in{};
    long received = 0;
    receiver.OnDataReceived = [&](TComponent*, int, const QString&, int) {
        int length = 0;
        receiver.ReadDatagram(in, length);
        benchmark::DoNotOptimize(length);
        ++received;
    };
    // Wakes the waiting loop now and then, so that a lost datagram cannot hang the run.
    QTimer heartbeat;
    heartbeat.start(200);

    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const long target = received + kBatch;
        for (int i = 0; i < kBatch; ++i)
            sender.SendDatagram(out, kDatagramSize);
        const QDeadlineTimer stall(kStallMs);
        while (received < target) {
            if (stall.hasExpired()) {
                state.SkipWithError("datagrams lost on loopback");
                return;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    endpointRate = perSecond(received, std::chrono::steady_clock::now() - start);
    state.SetItemsProcessed(received);
}
BENCHMARK(BM_EndpointReceive)->UseRealTime();

void BM_BareRecvfrom(benchmark::State& state)
{
    const int receiver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = loopback(kBarePort);
    const timeval stall{kStallMs / 1000, 0};
    ::setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &stall, sizeof stall);
    if (::bind(receiver, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        state.SkipWithError("cannot bind the bare receiver");
        ::close(receiver);
        ::close(sender);
        return;
    }

    std::array<char, kDatagramSize> out{};
    std::array<char, TNMUDP::kReceiveBufferSize> in{};
    long received = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            ::sendto(sender, out.data(), out.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        for (int i = 0; i < kBatch; ++i) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(receiver, in.data(), in.size(), MSG_TRUNC,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0) {
                state.SkipWithError("datagrams lost on loopback");
                break;
            }
            benchmark::DoNotOptimize(n);
            ++received;
        }
    }
    bareRate = perSecond(received, std::chrono::steady_clock::now() - start);
    state.SetItemsProcessed(received);
    ::close(receiver);
    ::close(sender);
}
BENCHMARK(BM_BareRecvfrom)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (endpointRate > 0 && bareRate > 0) {
        std::printf("endpoint %.0f datagrams/s, bare recvfrom %.0f datagrams/s, ratio %.2f (goal >= 0.50)\n",
                    endpointRate, bareRate, endpointRate / bareRate);
    }
    return 0;
}
