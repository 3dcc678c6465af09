#include "net/UdpEndpoint.h"

#include "platform/CodePage.h"
#include "platform/HostLookup.h"
#include "platform/NotificationWindow.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace kavelo {
namespace {

// Event words in the low half of a socket message's lParam.
constexpr int kReadEvent = 1;    // a datagram is waiting
constexpr int kLookupEvent = 0;  // a host-name lookup has ended; error word 0 = found

constexpr qintptr socketMessageParam(quint16 event, quint16 error)
{
    return static_cast<qintptr>((static_cast<quint32>(error) << 16) | event);
}

// A finished lookup: the address (network byte order) rides in wParam.
NotificationMessage lookupMessage(std::optional<in_addr_t> address)
{
    return {kSocketMessage, address.value_or(0), socketMessageParam(kLookupEvent, address ? 0 : 1)};
}

const QString kInvalidBuffer = QStringLiteral("Invalid buffer");
const QString kHostLookupCanceled = QStringLiteral("Host Lookup Canceled");

} // namespace

UdpEndpoint::UdpEndpoint(QObject* owner)
    : Component(owner),
      window_(std::make_unique<NotificationWindow>(
          [this](const NotificationMessage& message) { handleNotification(message); }))
{
    statusReport(8, QStringLiteral("Initializing Winsock"));
    createSocket(true);
    initialised_ = true;
}

UdpEndpoint::~UdpEndpoint()
{
    Destroying();
    closeSocket();
    window_.reset();
}

void UdpEndpoint::createSocket(bool noLinger)
{
    socket_ = openSocket();
    if (socket_ < 0) {
        const int code = errno;
        socket_ = -1;
        checkError(code);
        return;
    }
    if (noLinger) {
        const linger off{0, 0};
        ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    }
}

int UdpEndpoint::openSocket()
{
    // Non-blocking: a readiness message that finds nothing to read must not stall the GUI thread.
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

void UdpEndpoint::closeSocket()
{
    readNotifier_.reset();
    ++socketGeneration_;
    readinessPosted_ = false;
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
}

void UdpEndpoint::setLocalPort(int value)
{
    closeSocket();
    createSocket(false);
    localPort_ = value;
    bindAndListen();
}

void UdpEndpoint::Loaded()
{
    Component::Loaded();
    bindAndListen();
}

int UdpEndpoint::BoundPort() const
{
    if (socket_ < 0)
        return 0;
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        return 0;
    return ntohs(bound.sin_port);
}

void UdpEndpoint::bindAndListen()
{
    if (componentState().testFlag(csDesigning))
        return;
    localAddress_ = sockaddr_in{};
    localAddress_.sin_family = AF_INET;
    localAddress_.sin_port = htons(static_cast<quint16>(localPort_));
    localAddress_.sin_addr.s_addr = htonl(INADDR_ANY);
    lookupDone_ = false;
    if (socket_ < 0)
        return;
    // A socket that is already bound keeps its first binding; that is not an error here.
    (void)::bind(socket_, reinterpret_cast<const sockaddr*>(&localAddress_), sizeof localAddress_);

    // The notifier is level-triggered and keeps firing while a datagram waits;
    // only one message is on the way at a time, so that every message stands
    // for one waiting datagram. (Switching the notifier off and on instead
    // would wake the event loop twice more per datagram.)
    const quintptr generation = ++socketGeneration_;
    readinessPosted_ = false;
    readNotifier_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
    QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, readNotifier_.get(),
                     [this, generation] {
                         if (std::exchange(readinessPosted_, true))
                             return;
                         window_->post({kSocketMessage, generation, socketMessageParam(kReadEvent, 0)});
                     });
}

void UdpEndpoint::handleNotification(const NotificationMessage& message)
{
    if (!initialised_ || message.number != kSocketMessage)
        return;
    const auto event = static_cast<quint16>(message.lParam & 0xFFFF);
    const auto error = static_cast<quint16>((message.lParam >> 16) & 0xFFFF);
    if (event == kReadEvent) {
        // A message from a socket that has since been replaced announces nothing.
        if (message.wParam == socketGeneration_ && readNotifier_)
            receiveDatagram();
        return;
    }
    lookupDone_ = true;
    lookupSucceeded_ = error == 0;
    hostEntryAddress_ = lookupSucceeded_ ? static_cast<in_addr_t>(message.wParam) : 0;
    if (std::exchange(lookupPending_, false))
        foundName_ = lookupName_;
}

void UdpEndpoint::receiveDatagram()
{
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    // MSG_TRUNC makes the result the datagram's real length, so an oversize one can be told.
    const ssize_t result = ::recvfrom(socket_, receiveBuffer_.data(), receiveBuffer_.size(), MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
    // Cleared before the handler runs: a datagram arriving while it runs a
    // nested event loop (a modal box) is announced inside that loop.
    readinessPosted_ = false;
    if (result < 0)
        return;  // nothing was read; the last datagram stays readable
    if (result > kReceiveBufferSize) {
        // The buffer now holds the cut-off head of a datagram nobody may read.
        receivedBytes_ = 0;
        return;
    }
    receivedBytes_ = static_cast<int>(result);
    if (!OnDataReceived || fromLength < sizeof from || from.sin_family != AF_INET)
        return;
    const auto* ip = reinterpret_cast<const unsigned char*>(&from.sin_addr.s_addr);
    const QString fromIP = QString::asprintf("%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    OnDataReceived(this, receivedBytes_, fromIP, ntohs(from.sin_port));
}

void UdpEndpoint::ReadDatagram(std::span<char> buff, int& length)
{
    const auto count = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(receivedBytes_), buff.size()));
    if (count > 0)
        std::memcpy(buff.data(), receiveBuffer_.data(), static_cast<std::size_t>(count));
    length = count;
}

bool UdpEndpoint::SendDatagram(std::span<const char> buff, int length, HostLookupWait wait)
{
    // Work on a copy: the buffer-invalid handler may refill it.
    QByteArray copy(buff.data(), static_cast<qsizetype>(buff.size()));
    bool firstPass = true;
    while (length == 0) {
        if (!firstPass || !OnBufferInvalid)
            throw Exception(kInvalidBuffer);
        firstPass = false;
        bool handled = false;
        OnBufferInvalid(handled, copy, length);
        if (!handled)
            throw Exception(kInvalidBuffer);
    }
    // Never send bytes from beyond the caller's buffer.
    if (length < 0 || length > copy.size())
        throw Exception(kInvalidBuffer);

    const std::optional<in_addr_t> address = resolveRemoteHost(wait);
    if (!address)
        return false;
    if (*address == 0)
        throw UdpEndpointError(QStringLiteral("Null Remote Address"));
    statusReport(2, QStringLiteral("Sending Data"));
    remoteAddress_ = sockaddr_in{};
    remoteAddress_.sin_family = AF_INET;
    remoteAddress_.sin_port = htons(static_cast<quint16>(RemotePort));
    remoteAddress_.sin_addr.s_addr = *address;
    // A datagram the system refuses is not reported, as with any UDP loss.
    (void)::sendto(socket_, copy.constData(), static_cast<std::size_t>(length), 0,
                   reinterpret_cast<const sockaddr*>(&remoteAddress_), sizeof remoteAddress_);
    if (OnDataSend)
        OnDataSend(this);
    return true;
}

std::optional<in_addr_t> UdpEndpoint::resolveRemoteHost(HostLookupWait wait)
{
    const QByteArray text = toAnsi(RemoteHost);
    if (text.size() > kMaxHostNameLength)
        throw UdpEndpointError(kHostLookupCanceled);
    // Zero-terminated: a zero byte inside the text ends the name.
    std::array<char, kMaxHostNameLength + 1> name{};
    std::memcpy(name.data(), text.constData(), static_cast<std::size_t>(text.size()));
    const in_addr_t dotted = ::inet_addr(name.data());
    if (dotted != INADDR_NONE)
        return dotted;

    const QString lookupName = fromAnsi(QByteArrayView(name.data()));
    // One lookup at a time: a send that needs one while another is under way is
    // dropped, rather than waiting inside that lookup's wait for a second one.
    if (lookupPending_)
        return std::nullopt;
    if (wait == HostLookupWait::Wait)
        return lookUpAndWait(lookupName);
    if (foundName_ == lookupName) {
        if (lookupSucceeded_)
            return hostEntryAddress_;
        throw UdpEndpointError(kHostLookupCanceled);
    }
    startLookup(lookupName);
    return std::nullopt;
}

in_addr_t UdpEndpoint::lookUpAndWait(const QString& name)
{
    bool retried = false;
    while (true) {
        startLookup(name);
        // Keep the program alive while the name is looked up; there is no time limit.
        while (lookupPending_)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (lookupSucceeded_)
            return hostEntryAddress_;
        if (retried)
            throw UdpEndpointError(kHostLookupCanceled);
        retried = true;
        bool handled = false;
        if (OnInvalidHost)
            OnInvalidHost(handled);
        if (!handled)
            throw UdpEndpointError(kHostLookupCanceled);
    }
}

void UdpEndpoint::startLookup(const QString& name)
{
    lookupDone_ = false;
    lookupPending_ = true;
    lookupName_ = name;
    startHostLookup(name);
}

void UdpEndpoint::startHostLookup(const QString& name)
{
    // The result comes back as a socket message, through a target that outlives
    // this endpoint: a lookup that ends after the endpoint is gone reaches nobody.
    lookUpIPv4Address(name.toLocal8Bit(), [target = window_->target()](std::optional<in_addr_t> address) {
        target->post(lookupMessage(address));
    });
}

void UdpEndpoint::hostLookupFinished(bool succeeded, quint32 address)
{
    window_->post(lookupMessage(succeeded ? std::optional<in_addr_t>(address) : std::nullopt));
}

void UdpEndpoint::checkError(int code)
{
    statusReport(16, QStringLiteral("Checking Error In Error Manager"));
    lastErrorCode_ = code;
    const auto word = static_cast<quint16>(code);
    // Would-block is no failure; only that code itself is passed over.
    if (word == EWOULDBLOCK)
        return;
    const QString message = word == 0 ? QString() : QStringLiteral("Unknown Error No. %1").arg(word);
    statusReport(8, QStringLiteral("Looking Up Error Message") + message);
    if (OnSocketError)
        OnSocketError(this, word, message);
    throw UdpEndpointError(message);
}

void UdpEndpoint::statusReport(int level, const QString& text)
{
    if (level > ReportLevel)
        return;
    statusText_ = text;
    if (OnStatus)
        OnStatus(this, statusText_);
}

} // namespace kavelo
