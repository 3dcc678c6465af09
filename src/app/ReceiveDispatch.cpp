#include "app/ReceiveDispatch.h"

#include "app/CallState.h"
#include "app/SideWindows.h"
#include "audio/AudioPlayback.h"
#include "audio/GsmConverter.h"
#include "desktop/DesktopNotifier.h"
#include "desktop/MediaPlayer.h"
#include "net/DatagramProtocol.h"
#include "net/UdpEndpoint.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/MessageBox.h"
#include "store/ContactNameLookup.h"
#include "windows/AccessibleAnnouncer.h"
#include "windows/MessagesWindow.h"
#include "windows/MissedCallsWindow.h"
#include "windows/RingAlertWindow.h"
#include "windows/TimeStamp.h"

#include <QLabel>
#include <QTime>

namespace kavelo {

ReceiveDispatch::ReceiveDispatch(const Parts& parts, QObject* parent)
    : QObject(parent), parts_(parts)
{
    parts_.receiver.OnDataReceived = [this](Component* sender, int numberBytes, const QString& fromIP, int port) {
        onDatagramReceived(sender, numberBytes, fromIP, port);
    };
    connect(&parts_.call, &CallState::silenced, this, [this] { errorsShown_.clear(); });
}

void ReceiveDispatch::onDatagramReceived(Component*, int numberBytes, const QString& fromIP, int)
{
    QByteArray datagram(std::max(numberBytes, 0), Qt::Uninitialized);
    int length = 0;
    parts_.receiver.ReadDatagram(std::span<char>(datagram.data(), static_cast<std::size_t>(datagram.size())), length);
    datagram.truncate(length);
    handleDatagram(fromIP, datagram);
}

void ReceiveDispatch::handleDatagram(const QString& fromIP, QByteArrayView datagram)
{
    // Errors here would otherwise reach the endpoint's notification handling; the
    // user sees them in a box and the program goes on receiving.
    try {
        if (parts_.call.datagramArrived(fromIP) == CallState::Sender::Peer) {
            // A new sender's address is an edit of the field: "Send STOP"
            // comes with the next datagram.
            parts_.window.setAddressField(fromIP);
            receiveFromPeer(fromIP, datagram);
        } else {
            receiveFromThirdParty(fromIP, datagram);
        }
    } catch (const Exception& e) {
        deferredError_ = e.Message();
    } catch (const std::exception& e) {
        deferredError_ = QString::fromLocal8Bit(e.what());
    }
    if (!deferredError_.isEmpty())
        reportReceiveError(std::exchange(deferredError_, QString()));
}

void ReceiveDispatch::receiveFromPeer(const QString& fromIP, QByteArrayView datagram)
{
    if (isRingSignal(datagram))
        ringFrom(fromIP);
    else if (isStopSignal(datagram) && parts_.call.stopEndsConversation())
        stopFrom(fromIP);
    else if (isTextMessage(datagram))
        showTextLine(displayName(fromIP), datagram);
    else
        playVoice(datagram);
}

void ReceiveDispatch::receiveFromThirdParty(const QString& fromIP, QByteArrayView datagram)
{
    const QString name = displayName(fromIP);
    if (isTextMessage(datagram)) {
        showTextLine(name, datagram);
        return;
    }
    const QString status = name + QStringLiteral(" tries to connect");
    parts_.window.setCaption(status);
    // The next captured buffer puts the call's caption back within a quarter
    // second, too soon for a screen reader to read the name: told on its own,
    // once, and again only after a while, though a third party that talks
    // sends several datagrams a second.
    constexpr qint64 kAttemptRetoldAfterMs = 10'000;
    if (status != attemptTold_ || attemptToldAt_.hasExpired(kAttemptRetoldAfterMs)) {
        parts_.announcer.announce(status);
        attemptTold_ = status;
        attemptToldAt_.start();
    }
    if (parts_.sideWindows.missedCalls->AddMissedCall(name))
        parts_.call.missedCallRecorded();
}

void ReceiveDispatch::ringFrom(const QString& fromIP)
{
    // A missing or unplayable ring sound must not hide who is calling: the alert
    // still comes up and the sound's failure is told once the datagram is handled.
    try {
        parts_.ringPlayer.FileName = parts_.window.ringSoundPath();
        parts_.ringPlayer.Open();
        parts_.ringPlayer.Play();
    } catch (const Exception& e) {
        deferredError_ = e.Message();
    }
    const QString name = displayName(fromIP);
    const bool unseen = parts_.window.outOfSight();
    parts_.window.restoreApplication();
    RingAlertWindow& ringAlert = *parts_.sideWindows.ringAlert;
    ringAlert.ShowRing(name);
    if (unseen)
        parts_.notifier.notify(ringAlert.headingLabel->text() + name, QString());
}

void ReceiveDispatch::stopFrom(const QString& fromIP)
{
    const QString name = displayName(fromIP);
    parts_.window.restoreApplication();
    parts_.window.endConversationFromPeer();
    showMessage(QStringLiteral("You recieved STOP signal from ") + name +
                QStringLiteral(" maybe you should call him/her later."));
}

void ReceiveDispatch::showTextLine(const QString& name, QByteArrayView datagram)
{
    const bool unseen = parts_.window.outOfSight();
    parts_.window.restoreApplication();
    const QString line = receivedMessageText(fromAnsi(extractText(datagram)));
    const QString shown = name + QStringLiteral(" (") + longTimeText(QTime::currentTime()) + QStringLiteral("): ") + line;
    parts_.sideWindows.messages->ShowReceivedLine(shown);
    parts_.announcer.announce(shown);
    if (unseen)
        parts_.notifier.notify(name, line);
}

void ReceiveDispatch::playVoice(QByteArrayView datagram)
{
    // Playback that failed is tried again at most once a second, not with
    // every datagram: a server that is missing or hung answers no sooner.
    constexpr qint64 kPlaybackRetryMs = 1000;
    AudioPlayback& playback = parts_.playback;
    if (!playback.Active()) {
        if (playbackFailed_.isValid() && !playbackFailed_.hasExpired(kPlaybackRetryMs))
            return;
        playbackFailed_.start();
        playback.setNumBuffers(0);
        playback.Open(parts_.converter.ACMFormatOut());
    }
    // A device found lost by this block closes itself and raises; the next
    // datagram opens playback again at once, since the server may be back.
    playback.Play(datagram.data(), static_cast<qint32>(datagram.size()));
    playbackFailed_.invalidate();
}

QString ReceiveDispatch::displayName(const QString& address)
{
    // An unreadable contact list names the caller by address; the failure is told
    // once the datagram is handled.
    try {
        return contactNames_.displayName(parts_.window.programFolder(), address);
    } catch (const Exception& e) {
        deferredError_ = e.Message();
        return address;
    }
}

void ReceiveDispatch::reportReceiveError(const QString& message)
{
    // A failure that repeats with every datagram (a lost sound device, a
    // missing ring sound) is told once per conversation, and the box, which runs
    // its own loop in which more datagrams arrive, never piles up on itself.
    errorsShown_.pass(message, reportError);
}

} // namespace kavelo
