// The main window's incoming side: what each datagram on port 5552 does.
#include "app/MainWindow.h"

#include "audio/GsmConverter.h"
#include "audio/AudioPlayback.h"
#include "net/UdpEndpoint.h"
#include "platform/CodePage.h"
#include "desktop/DesktopNotifier.h"
#include "platform/Exception.h"
#include "platform/Guarded.h"
#include "desktop/MediaPlayer.h"
#include "platform/MessageBox.h"
#include "windows/AccessibleAnnouncer.h"
#include "store/ContactNameLookup.h"
#include "windows/TimeStamp.h"
#include "windows/MissedCallsWindow.h"
#include "windows/RingAlertWindow.h"
#include "windows/MessagesWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QTime>
#include <QToolButton>

namespace kavelo {

void MainWindow::onDatagramReceived(Component*, int numberBytes, const QString& fromIP, int)
{
    QByteArray datagram(std::max(numberBytes, 0), Qt::Uninitialized);
    int length = 0;
    receiver->ReadDatagram(std::span<char>(datagram.data(), static_cast<std::size_t>(datagram.size())), length);
    datagram.truncate(length);
    handleDatagram(fromIP, datagram);
}

void MainWindow::handleDatagram(const QString& fromIP, QByteArrayView datagram)
{
    // Errors here would otherwise reach the endpoint's notification handling; the
    // user sees them in a box and the program goes on receiving.
    try {
        sendStopButton->setEnabled(true);
        if (currentPeer_.isEmpty() || currentPeer_ == fromIP) {
            addressEdit->setText(fromIP);
            speakButton->setEnabled(true);
            silentButton->setEnabled(true);
            contactListButton->setEnabled(false);
            receiveFromPeer(fromIP, datagram);
        } else {
            receiveFromThirdParty(fromIP, datagram);
        }
    } catch (const Exception& e) {
        deferredReceiveError_ = e.Message();
    } catch (const std::exception& e) {
        deferredReceiveError_ = QString::fromLocal8Bit(e.what());
    }
    if (!deferredReceiveError_.isEmpty())
        reportReceiveError(std::exchange(deferredReceiveError_, QString()));
}

void MainWindow::receiveFromPeer(const QString& fromIP, QByteArrayView datagram)
{
    const bool stopTaken = speakButton->isChecked() || !sendRingButton->isEnabled();
    if (isRingSignal(datagram))
        ringFrom(fromIP);
    else if (isStopSignal(datagram) && stopTaken)
        stopFrom(fromIP);
    else if (isTextMessage(datagram))
        showTextLine(displayName(fromIP), datagram);
    else
        playVoice(datagram);
}

void MainWindow::receiveFromThirdParty(const QString& fromIP, QByteArrayView datagram)
{
    const QString name = displayName(fromIP);
    if (isTextMessage(datagram)) {
        showTextLine(name, datagram);
        return;
    }
    setWindowTitle(name + QStringLiteral(" tries to connect"));
    // The next captured buffer puts the call's caption back within a quarter
    // second, too soon for a screen reader to read the name: told on its own.
    announcer->announce(windowTitle());
    if (missedCallsWindow_->AddMissedCall(name))
        missedCalls_ = true;
}

void MainWindow::ringFrom(const QString& fromIP)
{
    // A missing or unplayable ring sound must not hide who is calling: the alert
    // still comes up and the sound's failure is told once the datagram is handled.
    try {
        ringPlayer->FileName = programFolder_ + QStringLiteral("Phone.wav");
        ringPlayer->Open();
        ringPlayer->Play();
    } catch (const Exception& e) {
        deferredReceiveError_ = e.Message();
    }
    const QString name = displayName(fromIP);
    const bool unseen = outOfSight();
    restoreApplication();
    ringAlert_->ShowRing(name);
    if (unseen)
        notifier->notify(ringAlert_->headingLabel->text() + name, QString());
}

void MainWindow::stopFrom(const QString& fromIP)
{
    const QString name = displayName(fromIP);
    restoreApplication();
    onSilent();
    silentButton->setChecked(true);
    addressEdit->clear();
    showMessage(QStringLiteral("You recieved STOP signal from ") + name +
                QStringLiteral(" maybe you should call him/her later."));
}

void MainWindow::showTextLine(const QString& name, QByteArrayView datagram)
{
    const bool unseen = outOfSight();
    restoreApplication();
    const QString line = receivedMessageText(fromAnsi(extractText(datagram)));
    const QString shown = name + QStringLiteral(" (") + longTimeText(QTime::currentTime()) + QStringLiteral("): ") + line;
    messages_->ShowReceivedLine(shown);
    announcer->announce(shown);
    if (unseen)
        notifier->notify(name, line);
}

void MainWindow::playVoice(QByteArrayView datagram)
{
    // Playback that failed is tried again at most once a second, not with
    // every datagram: a server that is missing or hung answers no sooner.
    constexpr qint64 kPlaybackRetryMs = 1000;
    if (!playback->Active()) {
        if (playbackFailed_.isValid() && !playbackFailed_.hasExpired(kPlaybackRetryMs))
            return;
        playbackFailed_.start();
        playback->setNumBuffers(0);
        playback->Open(converter->ACMFormatOut());
    }
    // A device found lost by this block closes itself and raises; the next
    // datagram opens playback again at once, since the server may be back.
    playback->Play(datagram.data(), static_cast<qint32>(datagram.size()));
    playbackFailed_.invalidate();
}

QString MainWindow::displayName(const QString& address)
{
    // An unreadable contact list names the caller by address; the failure is told
    // once the datagram is handled.
    try {
        return contactDisplayName(programFolder_, address);
    } catch (const Exception& e) {
        deferredReceiveError_ = e.Message();
        return address;
    }
}

void MainWindow::reportReceiveError(const QString& message)
{
    // A failure that repeats with every datagram (a lost sound device, a
    // missing ring sound) is told once per conversation, and the box, which runs
    // its own loop in which more datagrams arrive, never piles up on itself.
    receiveErrorsShown_.pass(message, reportError);
}

} // namespace kavelo
