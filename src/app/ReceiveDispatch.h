#pragma once

#include "platform/Guarded.h"
#include "store/ContactNameLookup.h"

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

namespace kavelo {

class AccessibleAnnouncer;
class AudioPlayback;
class CallState;
class Component;
class DesktopNotifier;
class GsmConverter;
class MediaPlayer;
class UdpEndpoint;
struct SideWindows;

// What every datagram on the receiving endpoint does: the peer's (or a first
// sender's) ring, STOP, line or voice, and a third party's line or missed call.
class ReceiveDispatch : public QObject {
    Q_OBJECT
public:
    // What a datagram changes in the main window.
    class Window {
    public:
        virtual ~Window() = default;
        virtual QString programFolder() const = 0;
        virtual QString ringSoundPath() const = 0;
        virtual void setAddressField(const QString& address) = 0;
        virtual void setCaption(const QString& caption) = 0;
        // Whether the user may not see what the program shows.
        virtual bool outOfSight() const = 0;
        // Brings the program up without taking the keyboard.
        virtual void restoreApplication() = 0;
        // The peer's STOP: "Silent", and the address field emptied.
        virtual void endConversationFromPeer() = 0;
    };

    // The parts a datagram reaches; they outlive the dispatch.
    struct Parts {
        Window& window;
        CallState& call;
        const SideWindows& sideWindows;
        AccessibleAnnouncer& announcer;
        DesktopNotifier& notifier;
        UdpEndpoint& receiver;
        AudioPlayback& playback;
        GsmConverter& converter;
        MediaPlayer& ringPlayer;
    };

    // Takes every datagram `parts.receiver` reads.
    explicit ReceiveDispatch(const Parts& parts, QObject* parent = nullptr);

    // What one datagram from a sender does, once its bytes are read.
    void handleDatagram(const QString& fromIP, QByteArrayView datagram);

private:
    void onDatagramReceived(Component* sender, int numberBytes, const QString& fromIP, int port);
    void receiveFromPeer(const QString& fromIP, QByteArrayView datagram);
    void receiveFromThirdParty(const QString& fromIP, QByteArrayView datagram);
    void ringFrom(const QString& fromIP);
    void stopFrom(const QString& fromIP);
    // "name (time): text" in the messages window.
    void showTextLine(const QString& name, QByteArrayView datagram);
    void playVoice(QByteArrayView datagram);
    QString displayName(const QString& address);
    // Errors while a datagram is handled: one box at a time, receiving goes on.
    void reportReceiveError(const QString& message);

    Parts parts_;
    RepeatFilter errorsShown_{RepeatFilter::Holds::UntilCleared};  // since the last "Silent"
    // Since playback last failed to open or was lost; invalid while it works.
    QElapsedTimer playbackFailed_;
    QString deferredError_;
    ContactNameLookup contactNames_;
    // The last third party's attempt told to assistive technology, and when.
    QString attemptTold_;
    QElapsedTimer attemptToldAt_;
};

} // namespace kavelo
