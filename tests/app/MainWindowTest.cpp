#include "MainWindowFixture.h"

#include "app/ProgramFolder.h"
#include "audio/GsmConverter.h"
#include "audio/AudioCapture.h"
#include "audio/AudioPlayback.h"
#include "store/AutostartStore.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QCheckBox>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QToolButton>

namespace kavelo::test {
namespace {

using Op = FakeAudioBackend::Op;

QByteArray speechLikeBuffer()
{
    QByteArray pcm(2000, '\0');
    for (int i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<char>(128 + 60 * std::sin(i * 0.3) + QRandomGenerator::global()->bounded(20));
    return pcm;
}

TEST_F(MainWindowTest, StartsSilentWithTheStoredComponentValues)
{
    createForm();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Kavelo 1.0b PC-PC call"));
    EXPECT_TRUE(silentButton->isChecked());
    EXPECT_FALSE(speakButton->isChecked());
    EXPECT_FALSE(sendStopButton->isEnabled());
    EXPECT_TRUE(form->currentPeer().isEmpty());
    EXPECT_EQ(capture->BufferSize(), 1024u);
    EXPECT_EQ(capture->NumBuffers(), 10);
    EXPECT_EQ(playback->NumBuffers(), 4);
    EXPECT_EQ(converter->InputBufferSize(), 2048u);
    EXPECT_EQ(sender->LocalPort(), 5551);
    EXPECT_EQ(sender->RemotePort, 5552);
    EXPECT_EQ(sender->ReportLevel, 1);
    EXPECT_EQ(receiver->RemotePort, 5551);

    const WaveFormat& in = converter->ACMFormatIn();
    EXPECT_EQ(in.formatTag(), kWaveFormatPcm);
    EXPECT_EQ(in.channels(), 1);
    EXPECT_EQ(in.samplesPerSec(), 8000u);
    EXPECT_EQ(in.avgBytesPerSec(), 8000u);
    EXPECT_EQ(in.blockAlign(), 1);
    EXPECT_EQ(in.bitsPerSample(), 8);
    EXPECT_EQ(in.extraSize(), 4);
    const WaveFormat& out = converter->ACMFormatOut();
    EXPECT_EQ(out.formatTag(), kWaveFormatGsm610);
    EXPECT_EQ(out.avgBytesPerSec(), 1625u);
    EXPECT_EQ(out.blockAlign(), 65);
    EXPECT_EQ(out.bitsPerSample(), 0);
    EXPECT_EQ(out.extraSize(), 2);
    EXPECT_EQ(out.extraU16(0), 320);
}

TEST_F(MainWindowTest, SpeakRecordsOneGsmBlockAtATimeAndSendsEachAsItsOwnDatagram)
{
    createForm();
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    speakButton->click();

    ASSERT_NE(audio->openCapture(), nullptr);
    EXPECT_EQ(audio->openCapture()->format, converter->ACMFormatIn());
    EXPECT_EQ(capture->BufferSize(), 320u) << "one whole GSM block (40 ms): nothing captured is dropped or waits";
    EXPECT_EQ(audio->count(Op::WaveInAddBuffer), 10);
    EXPECT_TRUE(speakButton->isChecked());
    EXPECT_FALSE(addressEdit->isEnabled());
    EXPECT_FALSE(sendRingButton->isEnabled());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1"));

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(audio->fill(speechLikeBuffer()));
        const QNetworkDatagram voice = nextDatagram();
        ASSERT_TRUE(voice.isValid());
        EXPECT_EQ(voice.data().size(), 65);
        EXPECT_EQ(voice.senderPort(), 5551);
        EXPECT_FALSE(voice.data().startsWith("ring"));
    }
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Speaking 1625 B/s"));
    EXPECT_TRUE(errors.messages.isEmpty());
}

TEST_F(MainWindowTest, AssistiveTechnologyTogglingSpeakRunsItsHandler)
{
    createForm();
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    QAccessibleInterface* speak = QAccessible::queryAccessibleInterface(speakButton);
    ASSERT_NE(speak, nullptr);
    ASSERT_NE(speak->actionInterface(), nullptr);
    EXPECT_EQ(speak->text(QAccessible::Name), QStringLiteral("Speak"));
    EXPECT_TRUE(speak->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    speak->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(speakButton->isChecked());
    EXPECT_TRUE(capture->Active()) << "the toggle ran the Speak handler";
    EXPECT_TRUE(speak->state().checked);
}

TEST_F(MainWindowTest, SpeakPressedAgainChangesNothingInTheAudioPath)
{
    createForm();
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    speakButton->click();
    speakButton->click();
    EXPECT_EQ(audio->count(Op::WaveInOpen), 1);
    EXPECT_EQ(capture->BufferSize(), 320u) << "one whole GSM block (40 ms): nothing captured is dropped or waits";
    EXPECT_EQ(converter->InputBufferSize(), 320u);
    EXPECT_TRUE(speakButton->isChecked());
}

TEST_F(MainWindowTest, SilentStopsRecordingAndReturnsToIdle)
{
    createForm();
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    speakButton->click();
    silentButton->click();
    EXPECT_FALSE(capture->Active());
    EXPECT_TRUE(converter->Active()) << "the converter stays active across conversations";
    EXPECT_TRUE(addressEdit->isEnabled());
    EXPECT_TRUE(sendRingButton->isEnabled());
    EXPECT_TRUE(contactListButton->isEnabled());
    EXPECT_TRUE(form->currentPeer().isEmpty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Silent"));
}

TEST_F(MainWindowTest, SendRingAndSendStopPutTheSignalsOnTheWire)
{
    createForm();
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    sendRingButton->click();
    QNetworkDatagram ring = nextDatagram();
    ASSERT_TRUE(ring.isValid());
    EXPECT_EQ(ring.data().size(), 390);
    EXPECT_TRUE(ring.data().startsWith("ring"));
    EXPECT_EQ(ring.senderPort(), 5551);
    EXPECT_FALSE(sendRingButton->isEnabled());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Sending ring"));

    sendStopButton->setEnabled(true);  // a received datagram would enable it
    sendStopButton->click();
    QNetworkDatagram stop = nextDatagram();
    ASSERT_TRUE(stop.isValid());
    EXPECT_EQ(stop.data().size(), 390);
    EXPECT_TRUE(stop.data().startsWith("stop"));
    EXPECT_FALSE(sendStopButton->isEnabled());
    EXPECT_TRUE(addressEdit->text().isEmpty());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Sending STOP"));
}

// A call from the keyboard alone: Alt and the underlined letter.
TEST_F(MainWindowTest, ACallCanBeMadeFromTheKeyboardAlone)
{
    createForm();
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    const auto press = [this](Qt::Key letter) { QTest::keyClick(form->windowHandle(), letter, Qt::AltModifier); };

    press(Qt::Key_P);
    ASSERT_TRUE(processEventsUntil([this] { return addressEdit->hasFocus(); }));
    QTest::keyClicks(addressEdit, QStringLiteral("127.0.0.1"));
    press(Qt::Key_R);
    ASSERT_TRUE(nextDatagram().data().startsWith("ring"));
    press(Qt::Key_S);
    ASSERT_TRUE(processEventsUntil([this] { return capture->Active(); }));
    EXPECT_TRUE(speakButton->isChecked());
    sendStopButton->setEnabled(true); // a received datagram would enable it
    press(Qt::Key_T);
    ASSERT_TRUE(nextDatagram().data().startsWith("stop"));
    press(Qt::Key_I);
    ASSERT_TRUE(processEventsUntil([this] { return !capture->Active(); }));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Silent"));
    // Tab runs through the controls as they read, left to right, top to bottom,
    // passing over the disabled "Send STOP"; Speak and Silent, one group, take one stop.
    addressEdit->setFocus();
    QStringList order;
    for (int i = 0; i < 9 && (order.isEmpty() || QApplication::focusWidget() != addressEdit); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.append(QApplication::focusWidget()->accessibleName());
    }
    EXPECT_EQ(order.join(u'|').toStdString(),
              "Contact list|Send RING|Messages|Speak|Start Kavelo every time I start Windows|Echo cancellation|Remote IP:");
    // The underline is no part of what the buttons say.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(silentButton)->text(QAccessible::Name), QStringLiteral("Silent"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(sendStopButton)->text(QAccessible::Name), QStringLiteral("Send STOP"));
}

TEST_F(MainWindowTest, SendStopWhileSpeakingKeepsRecordingAndSending)
{
    createForm();
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    speakButton->click();
    sendStopButton->setEnabled(true);
    sendStopButton->click();
    ASSERT_TRUE(nextDatagram().data().startsWith("stop"));
    EXPECT_TRUE(capture->Active());
    EXPECT_TRUE(speakButton->isChecked());
    ASSERT_TRUE(audio->fill(speechLikeBuffer()));
    EXPECT_EQ(nextDatagram().data().size(), 65);
}

TEST_F(MainWindowTest, ChangingTheAddressDisablesSendStop)
{
    createForm();
    sendStopButton->setEnabled(true);
    addressEdit->setText(QStringLiteral("10.0.0.1"));
    EXPECT_FALSE(sendStopButton->isEnabled());
}

TEST_F(MainWindowTest, AnInvalidAddressIsReportedAndChangesNothing)
{
    createForm();
    for (const QString& address : {QString(), QStringLiteral("225.1.1.1"), QStringLiteral("10.0.0")}) {
        addressEdit->setText(address);
        boxes.messages.clear();
        speakButton->click();
        EXPECT_TRUE(silentButton->isChecked()) << "Silent is put back down";
        sendRingButton->click();
        messagesButton->click();
        EXPECT_EQ(boxes.messages, QStringList(3, QStringLiteral("Enter a valid IP address!!!")));
        EXPECT_TRUE(form->currentPeer().isEmpty());
        EXPECT_TRUE(sendRingButton->isEnabled());
        EXPECT_EQ(audio->count(Op::WaveInOpen), 0);
    }
    EXPECT_FALSE(peer.hasPendingDatagrams());
}

TEST_F(MainWindowTest, AnOversizeFirstGroupEndsTheHandlerWithTheConversionError)
{
    createForm();
    addressEdit->setText(QStringLiteral("12345678901.0.0.1"));
    sendRingButton->click();
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("'12345678901' is not a valid integer value")});
    EXPECT_TRUE(sendRingButton->isEnabled());
}

TEST_F(MainWindowTest, SendRingToTheNullAddressFailsAfterTheStateHasChanged)
{
    createForm();
    addressEdit->setText(QStringLiteral("0.0.0.0"));
    sendRingButton->click();
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("Null Remote Address")});
    EXPECT_FALSE(sendRingButton->isEnabled());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("0.0.0.0"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Sending ring"));
}

TEST_F(MainWindowTest, AFailingVoiceSendIsShownOnceAndTheCallFallsBackToSilent)
{
    createForm();
    addressEdit->setText(QStringLiteral("0.0.0.0"));
    speakButton->click();
    ASSERT_TRUE(capture->Active());
    ASSERT_TRUE(audio->fill(speechLikeBuffer()));
    processEventsUntil([this] { return !errors.messages.isEmpty(); });
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("Null Remote Address")});
    EXPECT_FALSE(capture->Active());
    EXPECT_TRUE(silentButton->isChecked());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Silent"));
    EXPECT_FALSE(audio->fill(speechLikeBuffer())) << "nothing is recording any more";
}

TEST_F(MainWindowTest, AnAddressThatNeedsALookupIsNeverLookedUpInsideTheCaptureHandler)
{
    createForm();
    // Accepted by the address check, but no dotted address: it has to be looked up.
    addressEdit->setText(QStringLiteral("1.2.3.4567"));
    speakButton->click();
    ASSERT_TRUE(capture->Active());
    int depth = 0;
    int deepest = 0;
    int handled = 0;
    const auto handler = capture->OnBufferFull;
    capture->OnBufferFull = [&](QObject* sender, const void* data, qint32 size) {
        deepest = std::max(deepest, ++depth);
        handler(sender, data, size);
        --depth;
        ++handled;
    };
    // Three quarter seconds are waiting before the first is handled.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(audio->fill(speechLikeBuffer()));
    ASSERT_TRUE(processEventsUntil([&] { return handled == 3; }));
    EXPECT_EQ(deepest, 1) << "a captured buffer was handled inside another one's wait";
    // The name is found nowhere: that is told once and the call ends.
    while (capture->Active() && audio->fill(speechLikeBuffer()))
        processEventsUntil([&] { return !errors.messages.isEmpty(); }, 300);
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("Host Lookup Canceled")});
    EXPECT_EQ(deepest, 1);
    EXPECT_TRUE(silentButton->isChecked());
}

TEST_F(MainWindowTest, SendMessageNeedsOnlyANonEmptyAddress)
{
    createForm();
    form->sendMessage(makeTextMessage("hi"));
    EXPECT_EQ(boxes.messages, QStringList{QStringLiteral("Enter a valid IP address!!!")});

    addressEdit->setText(QStringLiteral("127.0.0.1"));
    form->sendMessage(makeTextMessage("hi"));
    const QNetworkDatagram text = nextDatagram();
    EXPECT_EQ(text.data().size(), 390);
    EXPECT_TRUE(text.data().startsWith("|messhi|"));
    EXPECT_FALSE(sendRingButton->isEnabled());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1"));
}

TEST_F(MainWindowTest, AReceivePortHeldByAnotherProgramIsToldOnceAtStart)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, 5552, QUdpSocket::DontShareAddress));
    MainWindow blocked;
    EXPECT_EQ(boxes.messages, QStringList{QStringLiteral("Kavelo cannot receive calls: UDP port 5552 is in use.")});
    EXPECT_EQ(component<UdpEndpoint>(blocked, "receiver")->BoundPort(), 0);
}

TEST_F(MainWindowTest, StartsWithoutComplaintWhenItsPortsAreFree)
{
    createForm();
    EXPECT_TRUE(boxes.messages.isEmpty());
}

TEST_F(MainWindowTest, ProgramFolderIsTheCurrentDirectoryWithoutAnAutostartValue)
{
    createForm();
    EXPECT_EQ(form->programFolder(), QDir::currentPath() + QLatin1Char('/'));
    EXPECT_FALSE(autostartCheck->isChecked());
}

TEST_F(MainWindowTest, ProgramFolderComesFromTheAutostartValue)
{
    AutostartStore::write(QStringLiteral("Kavelo"), autostartCommand(QStringLiteral("/opt/kavelo test/")));
    createForm();
    EXPECT_EQ(form->programFolder(), QStringLiteral("/opt/kavelo test/"));
    EXPECT_TRUE(autostartCheck->isChecked());
}

} // namespace
} // namespace kavelo::test
