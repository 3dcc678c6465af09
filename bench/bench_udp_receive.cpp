// Receive path throughput: datagrams per second from one endpoint to another
// on loopback, through the event loop and OnDataReceived, next to a bare
// recvfrom loop over a plain socket pair. Prints the ratio of the two.

#include "net/UdpEndpoint.h"

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

using kavelo::Component;
using kavelo::UdpEndpoint;

// A batch stays well inside the receive queue, so loopback loses nothing.
constexpr int kBatch = 32;
constexpr int kDatagramSize = 390;  // one voice datagram
constexpr quint16 kEndpointPort = 42001;
constexpr quint16 kBarePort = 42003;
constexpr int kStallMs = 5000;

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Two endpoints as the main window has them: one sends, the other receives
// through the event loop and reads each datagram in its handler.
class EndpointPair {
public:
    EndpointPair()
    {
        receiver_.setLocalPort(kEndpointPort);
        sender_.RemoteHost = QStringLiteral("127.0.0.1");
        sender_.RemotePort = kEndpointPort;
        receiver_.OnDataReceived = [this](Component*, int, const QString&, int) {
            int length = 0;
            receiver_.ReadDatagram(in_, length);
            benchmark::DoNotOptimize(length);
            ++received_;
        };
        // Wakes the waiting loop now and then, so that a lost datagram cannot hang the run.
        heartbeat_.start(200);
    }

    // Sends one batch and waits until every datagram of it was announced.
    bool runBatch()
    {
        const long target = received_ + kBatch;
        for (int i = 0; i < kBatch; ++i)
            sender_.SendDatagram(out_, kDatagramSize);
        const QDeadlineTimer stall(kStallMs);
        while (received_ < target) {
            if (stall.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

private:
    UdpEndpoint receiver_{nullptr};
    UdpEndpoint sender_{nullptr};
    QTimer heartbeat_;
    std::array<char, kDatagramSize> out_{};
    std::array<char, UdpEndpoint::kReceiveBufferSize> in_{};
    long received_ = 0;
};

// The same traffic between two plain sockets, read with a blocking recvfrom loop.
class BarePair {
public:
    BarePair()
        : receiver_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)),
          sender_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)), to_(loopback(kBarePort))
    {
        const timeval stall{kStallMs / 1000, 0};
        ::setsockopt(receiver_, SOL_SOCKET, SO_RCVTIMEO, &stall, sizeof stall);
        bound_ = ::bind(receiver_, reinterpret_cast<const sockaddr*>(&to_), sizeof to_) == 0;
    }
    ~BarePair()
    {
        ::close(receiver_);
        ::close(sender_);
    }
    BarePair(const BarePair&) = delete;
    BarePair& operator=(const BarePair&) = delete;

    bool runBatch()
    {
        if (!bound_)
            return false;
        for (int i = 0; i < kBatch; ++i)
            ::sendto(sender_, out_.data(), out_.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
        for (int i = 0; i < kBatch; ++i) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(receiver_, in_.data(), in_.size(), MSG_TRUNC,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0)
                return false;
            benchmark::DoNotOptimize(n);
        }
        return true;
    }

private:
    int receiver_;
    int sender_;
    sockaddr_in to_;
    bool bound_ = false;
    std::array<char, kDatagramSize> out_{};
    std::array<char, UdpEndpoint::kReceiveBufferSize> in_{};
};

template <class Pair>
void receiveThroughput(benchmark::State& state)
{
    Pair pair;
    for (auto _ : state) {
        if (!pair.runBatch()) {
            state.SkipWithError("datagrams lost on loopback");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_EndpointReceive(benchmark::State& state) { receiveThroughput<EndpointPair>(state); }
BENCHMARK(BM_EndpointReceive)->UseRealTime();

void BM_BareRecvfrom(benchmark::State& state) { receiveThroughput<BarePair>(state); }
BENCHMARK(BM_BareRecvfrom)->UseRealTime();

// Both paths batch by batch in turn, so that a busy machine slows both alike.
double ratio = 0;
void BM_EndpointToBareRatio(benchmark::State& state)
{
    EndpointPair endpoint;
    BarePair bare;
    std::chrono::steady_clock::duration endpointTime{};
    std::chrono::steady_clock::duration bareTime{};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool endpointOk = endpoint.runBatch();
        const auto t1 = std::chrono::steady_clock::now();
        const bool bareOk = bare.runBatch();
        const auto t2 = std::chrono::steady_clock::now();
        if (!endpointOk || !bareOk) {
            state.SkipWithError("datagrams lost on loopback");
            return;
        }
        endpointTime += t1 - t0;
        bareTime += t2 - t1;
    }
    const double count = static_cast<double>(state.iterations()) * kBatch;
    const double endpointRate = count / std::chrono::duration<double>(endpointTime).count();
    const double bareRate = count / std::chrono::duration<double>(bareTime).count();
    ratio = endpointRate / bareRate;
    state.counters["endpoint_per_s"] = endpointRate;
    state.counters["bare_per_s"] = bareRate;
    state.counters["ratio"] = ratio;
}
BENCHMARK(BM_EndpointToBareRatio)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (ratio > 0)
        std::printf("endpoint receive rate / bare recvfrom rate: %.2f (goal >= 0.50)\n", ratio);
    return 0;
}
