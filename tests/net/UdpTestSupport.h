#pragma once

#include "net/UdpEndpoint.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QStringList>
#include <arpa/inet.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kavelo::test {

// Ports of the net tests: 41000 and up.
inline constexpr quint16 kPortBase = 41000;
inline constexpr int kPortsPerTest = 10;

// Port `offset` (0..9) of the running test's own block. The block follows from
// the test's place among all tests of the program, the same in every process,
// so tests run side by side (one process each) never share a port.
inline quint16 testPort(int offset)
{
    const ::testing::UnitTest* unit = ::testing::UnitTest::GetInstance();
    const ::testing::TestInfo* current = unit->current_test_info();
    int index = 0;
    for (int s = 0; s < unit->total_test_suite_count(); ++s) {
        const ::testing::TestSuite* suite = unit->GetTestSuite(s);
        for (int t = 0; t < suite->total_test_count(); ++t, ++index) {
            if (suite->GetTestInfo(t) == current)
                return static_cast<quint16>(kPortBase + index * kPortsPerTest + offset);
        }
    }
    ADD_FAILURE() << "testPort() called outside a test";
    return 0;
}

// A plain socket on the other side of the wire, free of the endpoint's logic.
class RawUdp {
public:
    explicit RawUdp(const char* ip = "127.0.0.1", quint16 port = 0)
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        const sockaddr_in address = make(ip, port);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawUdp()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawUdp(const RawUdp&) = delete;
    RawUdp& operator=(const RawUdp&) = delete;

    bool bound() const { return bound_; }

    quint16 port() const
    {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }

    bool sendTo(quint16 port, const QByteArray& bytes, const char* ip = "127.0.0.1") const
    {
        const sockaddr_in address = make(ip, port);
        return ::sendto(fd_, bytes.constData(), static_cast<size_t>(bytes.size()), 0,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address) == bytes.size();
    }

    // The next datagram, or nothing when none arrives in time; `fromPort` gets its sender's port.
    std::optional<QByteArray> receive(int timeoutMs = 2000, quint16* fromPort = nullptr) const
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return std::nullopt;
        QByteArray bytes(65536, '\0');
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd_, bytes.data(), static_cast<size_t>(bytes.size()), 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            return std::nullopt;
        bytes.resize(n);
        if (fromPort != nullptr)
            *fromPort = ntohs(from.sin_port);
        return bytes;
    }

private:
    static sockaddr_in make(const char* ip, quint16 port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = ::inet_addr(ip);
        return address;
    }

    int fd_;
    bool bound_ = false;
};

struct Received {
    int numberBytes;
    QString fromIP;
    int port;
    QByteArray bytes;  // read with ReadDatagram inside the handler
};

// An endpoint whose lookups and socket opening can be watched or staged.
class ProbedEndpoint : public UdpEndpoint {
public:
    using UdpEndpoint::UdpEndpoint;

    QStringList lookups;
    // When set, the next socket opening fails with this errno.
    std::optional<int> refuseSocketWith;

    // Records every datagram announced, with the bytes ReadDatagram returns.
    std::vector<Received>& recordReceived()
    {
        OnDataReceived = [this](Component* sender, int n, const QString& ip, int port) {
            EXPECT_EQ(sender, this);
            QByteArray bytes(kReceiveBufferSize, '\0');
            int length = -1;
            ReadDatagram(std::span<char>(bytes.data(), static_cast<std::size_t>(bytes.size())), length);
            bytes.resize(length);
            received.push_back({n, ip, port, bytes});
        };
        return received;
    }
    std::vector<Received> received;

protected:
    void startHostLookup(const QString& name) override
    {
        lookups.append(name);
        UdpEndpoint::startHostLookup(name);
    }

    int openSocket() override
    {
        if (!refuseSocketWith)
            return UdpEndpoint::openSocket();
        errno = *std::exchange(refuseSocketWith, std::nullopt);
        return -1;
    }
};

// Lowers the open-file limit so that the system itself refuses new sockets (EMFILE).
class NoFreeFileDescriptors {
public:
    NoFreeFileDescriptors()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit none = saved_;
        none.rlim_cur = 0;
        ::setrlimit(RLIMIT_NOFILE, &none);
    }
    ~NoFreeFileDescriptors() { lift(); }
    // Gives the limit back early. The sanitizers' own memory probes need file
    // descriptors too, so the limit is lifted as soon as the refusal is seen.
    void lift() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    NoFreeFileDescriptors(const NoFreeFileDescriptors&) = delete;
    NoFreeFileDescriptors& operator=(const NoFreeFileDescriptors&) = delete;

private:
    rlimit saved_{};
};

inline std::span<const char> bytesOf(const QByteArray& bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

inline QByteArray pattern(int size, int seed = 0)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return bytes;
}

} // namespace kavelo::test
