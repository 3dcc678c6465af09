// The main window's incoming side: what each datagram on port 5552 does.
#include "app/Unit1.h"

#include "audio/ACMConvertor.h"
#include "audio/ACMOut.h"
#include "net/NMUDP.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Guarded.h"
#include "platform/MediaPlayer.h"
#include "platform/MessageBox.h"
#include "windows/ContactNameLookup.h"
#include "windows/TimeStamp.h"
#include "windows/Unit3.h"
#include "windows/Unit4.h"
#include "windows/Unit5.h"

#include <QLineEdit>
#include <QTime>
#include <QToolButton>

namespace kavelo {

void TForm1::NMUDP2DataReceived(TComponent*, int numberBytes, const QString& fromIP, int)
{
    QByteArray datagram(std::max(numberBytes, 0), Qt::Uninitialized);
    int length = 0;
    NMUDP2->ReadDatagram(std::span<char>(datagram.data(), static_cast<std::size_t>(datagram.size())), length);
    datagram.truncate(length);
    handleDatagram(fromIP, datagram);
}

void TForm1::handleDatagram(const QString& fromIP, QByteArrayView datagram)
{
    // Errors here would otherwise reach the endpoint's notification handling; the
    // user sees them in a box and the program goes on receiving.
    try {
        SpeedButton4->setEnabled(true);
        if (currentPeer_.isEmpty() || currentPeer_ == fromIP) {
            Edit1->setText(fromIP);
            SpeedButton1->setEnabled(true);
            SpeedButton2->setEnabled(true);
            SpeedButton5->setEnabled(false);
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

void TForm1::receiveFromPeer(const QString& fromIP, QByteArrayView datagram)
{
    const bool stopTaken = SpeedButton1->isChecked() || !SpeedButton3->isEnabled();
    if (isRingSignal(datagram))
        ringFrom(fromIP);
    else if (isStopSignal(datagram) && stopTaken)
        stopFrom(fromIP);
    else if (isTextMessage(datagram))
        showTextLine(displayName(fromIP), datagram);
    else
        playVoice(datagram);
}

void TForm1::receiveFromThirdParty(const QString& fromIP, QByteArrayView datagram)
{
    const QString name = displayName(fromIP);
    if (isTextMessage(datagram)) {
        showTextLine(name, datagram);
        return;
    }
    setWindowTitle(name + QStringLiteral(" tries to connect"));
    if (missedCallsWindow_->AddMissedCall(name))
        missedCalls_ = true;
}

void TForm1::ringFrom(const QString& fromIP)
{
    // A missing or unplayable ring sound must not hide who is calling: the alert
    // still comes up and the sound's failure is told once the datagram is handled.
    try {
        MediaPlayer1->FileName = programFolder_ + QStringLiteral("Phone.wav");
        MediaPlayer1->Open();
        MediaPlayer1->Play();
    } catch (const Exception& e) {
        deferredReceiveError_ = e.Message();
    }
    const QString name = displayName(fromIP);
    restoreApplication();
    ringAlert_->ShowRing(name);
}

void TForm1::stopFrom(const QString& fromIP)
{
    const QString name = displayName(fromIP);
    restoreApplication();
    SpeedButton2Click();
    SpeedButton2->setChecked(true);
    Edit1->clear();
    showMessage(QStringLiteral("You recieved STOP signal from ") + name +
                QStringLiteral(" maybe you should call him/her later."));
}

void TForm1::showTextLine(const QString& name, QByteArrayView datagram)
{
    restoreApplication();
    messages_->ShowReceivedLine(name + QStringLiteral(" (") + longTimeText(QTime::currentTime()) +
                                QStringLiteral("): ") + fromAnsi(extractText(datagram)));
}

void TForm1::playVoice(QByteArrayView datagram)
{
    if (!ACMOut1->Active()) {
        ACMOut1->setNumBuffers(0);
        ACMOut1->Open(ACMConvertor1->ACMFormatOut());
    }
    ACMOut1->Play(datagram.data(), static_cast<qint32>(datagram.size()));
}

QString TForm1::displayName(const QString& address)
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

void TForm1::reportReceiveError(const QString& message)
{
    // A failure that repeats with every datagram (a lost sound device, a
    // missing ring sound) is told once per conversation, and the box, which runs
    // its own loop in which more datagrams arrive, never piles up on itself.
    if (receiveErrorShowing_ || receiveErrorsShown_.contains(message))
        return;
    receiveErrorsShown_.append(message);
    receiveErrorShowing_ = true;
    reportError(message);
    receiveErrorShowing_ = false;
}

} // namespace kavelo
