#pragma once

#include "platform/Component.h"
#include "platform/Exception.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <array>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <span>

class QIODevice;
class QSocketNotifier;

namespace kavelo {

class NotificationWindow;
struct NotificationMessage;

// A socket failure of the UDP endpoint; the message is all it carries.
class UdpEndpointError : public Exception {
public:
    using Exception::Exception;
};

// One IPv4 UDP socket: bound to LocalPort, sends a caller's bytes as one
// datagram to RemoteHost:RemotePort, announces each datagram that arrives.
// Readiness and host-lookup completion reach it as socket messages on its
// private notification window, so everything runs on the GUI thread.
class UdpEndpoint : public Component {
    Q_OBJECT
    Q_PROPERTY(QString RemoteHost MEMBER RemoteHost)
    Q_PROPERTY(int RemotePort MEMBER RemotePort)
    Q_PROPERTY(int LocalPort READ LocalPort WRITE setLocalPort)
    Q_PROPERTY(int ReportLevel MEMBER ReportLevel)
public:
    static constexpr int kReceiveBufferSize = 2048;
    // Longest host text that fits the lookup's zero-terminated 128-byte name buffer.
    static constexpr int kMaxHostNameLength = 127;

    explicit UdpEndpoint(QObject* owner);
    ~UdpEndpoint() override;

    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    QString RemoteHost;
    int RemotePort = 0;
    int ReportLevel = 1;

    int LocalPort() const { return localPort_; }
    // Closes the socket, creates a new one and binds it to the port at once,
    // also when the value is unchanged.
    void setLocalPort(int value);

    QString StatusText() const { return statusText_; }
    int LastErrorCode() const { return lastErrorCode_; }

    // The local port the socket is really bound to, or 0 when binding failed
    // (another program holds LocalPort) or there is no socket.
    int BoundPort() const;

    // How a send treats a RemoteHost that is no dotted address.
    enum class HostLookupWait {
        // Looks the name up anew and keeps the event loop running until the
        // lookup ends (a user's action: ring, stop, text line).
        Wait,
        // Never waits (voice, a GSM block at a time): takes the address
        // found for this RemoteHost, looked up once per change of it in the
        // background; until it is found the datagram is dropped, and a name
        // that was not found raises "Host Lookup Canceled" without a new lookup.
        Background,
    };

    // Sends the first `length` bytes of `buff` as one datagram; answers whether
    // it went out. A send that would need a lookup while one is under way (from
    // inside a send's wait, or during a background lookup) is dropped: lookups
    // never nest.
    bool SendDatagram(std::span<const char> buff, int length, HostLookupWait wait = HostLookupWait::Wait);

    // Copies the last received datagram to the start of `buff`, never past its
    // end; `length` is the number of bytes copied. Reading does not consume it.
    void ReadDatagram(std::span<char> buff, int& length);

    void Loaded() override;

    std::function<void(Component* sender, int numberBytes, const QString& fromIP, int port)> OnDataReceived;
    std::function<void(Component* sender)> OnDataSend;
    std::function<void(Component* sender, const QString& status)> OnStatus;
    std::function<void(bool& handled)> OnInvalidHost;
    std::function<void(bool& handled, QByteArray& buff, int& length)> OnBufferInvalid;
    // Declared for stored data only: the endpoint has no operation that takes a stream.
    std::function<void(bool& handled, QIODevice* stream)> OnStreamInvalid;
    // Set from code only; fired just before a socket failure is raised.
    std::function<void(Component* sender, quint16 code, const QString& message)> OnSocketError;

protected:
    // Opens a non-blocking IPv4 UDP socket; -1 with errno set when the system
    // refuses. Replaceable so that refusals can be staged.
    virtual int openSocket();
    // Starts an asynchronous lookup of `name`; its end is announced by
    // hostLookupFinished(). Replaceable so that lookups can be watched.
    virtual void startHostLookup(const QString& name);
    // Posts the end of a lookup to the notification window. `address` is the
    // first IPv4 address found, in network byte order.
    void hostLookupFinished(bool succeeded, quint32 address);

private:
    void createSocket(bool noLinger);
    void closeSocket();
    void bindAndListen();
    void handleNotification(const NotificationMessage& message);
    void receiveDatagram();
    // The address to send to, or nothing when the datagram is to be dropped.
    std::optional<in_addr_t> resolveRemoteHost(HostLookupWait wait);
    in_addr_t lookUpAndWait(const QString& name);
    void startLookup(const QString& name);
    void checkError(int code);
    void statusReport(int level, const QString& text);

    std::array<char, kReceiveBufferSize> receiveBuffer_{};
    int receivedBytes_ = 0;
    int localPort_ = 0;
    sockaddr_in remoteAddress_{};
    sockaddr_in localAddress_{};
    std::unique_ptr<NotificationWindow> window_;
    bool lookupDone_ = false;
    // Stands in for the host-entry buffer: the first address of the last lookup.
    in_addr_t hostEntryAddress_ = 0;
    bool lookupSucceeded_ = false;
    // The lookup under way (its end not yet announced) and the name it is for.
    bool lookupPending_ = false;
    QString lookupName_;
    // The name the last ended lookup was for; its outcome is lookupSucceeded_
    // and hostEntryAddress_.
    std::optional<QString> foundName_;
    QString statusText_;
    bool initialised_ = false;
    int lastErrorCode_ = 0;
    int socket_ = -1;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    // Tells readiness messages of the current socket from those of a replaced one.
    quintptr socketGeneration_ = 0;
    // A readiness message is on its way and its datagram not yet read.
    bool readinessPosted_ = false;
};

} // namespace kavelo
