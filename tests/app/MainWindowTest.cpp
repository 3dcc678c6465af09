#include "MainWindowFixture.h"

#include "app/ProgramFolder.h"
#include "audio/ACMConvertor.h"
#include "audio/ACMIn.h"
#include "audio/ACMOut.h"
#include "platform/AutostartStore.h"

#include <QAccessible>
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
    EXPECT_TRUE(form->SpeedButton2->isChecked());
    EXPECT_FALSE(form->SpeedButton1->isChecked());
    EXPECT_FALSE(form->SpeedButton4->isEnabled());
    EXPECT_TRUE(form->currentPeer().isEmpty());
    EXPECT_EQ(form->ACMIn1->BufferSize(), 1024u);
    EXPECT_EQ(form->ACMIn1->NumBuffers(), 10);
    EXPECT_EQ(form->ACMOut1->NumBuffers(), 4);
    EXPECT_EQ(form->ACMConvertor1->InputBufferSize(), 2048u);
    EXPECT_EQ(form->NMUDP1->LocalPort(), 5551);
    EXPECT_EQ(form->NMUDP1->RemotePort, 5552);
    EXPECT_EQ(form->NMUDP1->ReportLevel, 1);
    EXPECT_EQ(form->NMUDP2->RemotePort, 5551);

    const WaveFormat& in = form->ACMConvertor1->ACMFormatIn();
    EXPECT_EQ(in.formatTag(), kWaveFormatPcm);
    EXPECT_EQ(in.channels(), 1);
    EXPECT_EQ(in.samplesPerSec(), 8000u);
    EXPECT_EQ(in.avgBytesPerSec(), 8000u);
    EXPECT_EQ(in.blockAlign(), 1);
    EXPECT_EQ(in.bitsPerSample(), 8);
    EXPECT_EQ(in.extraSize(), 4);
    const WaveFormat& out = form->ACMConvertor1->ACMFormatOut();
    EXPECT_EQ(out.formatTag(), kWaveFormatGsm610);
    EXPECT_EQ(out.avgBytesPerSec(), 1625u);
    EXPECT_EQ(out.blockAlign(), 65);
    EXPECT_EQ(out.bitsPerSample(), 0);
    EXPECT_EQ(out.extraSize(), 2);
    EXPECT_EQ(out.extraU16(0), 320);
}

TEST_F(MainWindowTest, SpeakRecordsQuarterSecondsAndSendsOneVoiceDatagramEach)
{
    createForm();
    form->Edit1->setText(QStringLiteral("127.0.0.1"));
    form->SpeedButton1->click();

    ASSERT_NE(audio->openCapture(), nullptr);
    EXPECT_EQ(audio->openCapture()->format, form->ACMConvertor1->ACMFormatIn());
    EXPECT_EQ(form->ACMIn1->BufferSize(), 2000u);
    EXPECT_EQ(audio->count(Op::WaveInAddBuffer), 10);
    EXPECT_TRUE(form->SpeedButton1->isChecked());
    EXPECT_FALSE(form->Edit1->isEnabled());
    EXPECT_FALSE(form->SpeedButton3->isEnabled());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1"));

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(audio->fill(speechLikeBuffer()));
        const QNetworkDatagram voice = nextDatagram();
        ASSERT_TRUE(voice.isValid());
        EXPECT_EQ(voice.data().size(), 390);
        EXPECT_EQ(voice.senderPort(), 5551);
        EXPECT_FALSE(voice.data().startsWith("ring"));
    }
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Speaking 1625 B/s"));
    EXPECT_TRUE(errors.messages.isEmpty());
}

TEST_F(MainWindowTest, AssistiveTechnologyTogglingSpeakRunsItsHandler)
{
    createForm();
    form->Edit1->setText(QStringLiteral("127.0.0.1"));
    QAccessibleInterface* speak = QAccessible::queryAccessibleInterface(form->SpeedButton1);
    ASSERT_NE(speak, nullptr);
    ASSERT_NE(speak->actionInterface(), nullptr);
    EXPECT_EQ(speak->text(QAccessible::Name), QStringLiteral("Speak"));
    EXPECT_TRUE(speak->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    speak->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(form->SpeedButton1->isChecked());
    EXPECT_TRUE(form->ACMIn1->Active()) << "the toggle ran the Speak handler";
    EXPECT_TRUE(speak->state().checked);
}

TEST_F(MainWindowTest, SpeakPressedAgainChangesNothingInTheAudioPath)
{
    createForm();
    form->Edit1->setText(QStringLiteral("127.0.0.1"));
    form->SpeedButton1->click();
    form->SpeedButton1->click();
    EXPECT_EQ(audio->count(Op::WaveInOpen), 1);
    EXPECT_EQ(form->ACMIn1->BufferSize(), 2000u);
    EXPECT_EQ(form->ACMConvertor1->InputBufferSize(), 2000u);
    EXPECT_TRUE(form->SpeedButton1->isChecked());
}

TEST_F(MainWindowTest, SilentStopsRecordingAndReturnsToIdle)
{
    createForm();
    form->Edit1->setText(QStringLiteral("127.0.0.1"));
    form->SpeedButton1->click();
    form->SpeedButton2->click();
    EXPECT_FALSE(form->ACMIn1->Active());
    EXPECT_TRUE(form->ACMConvertor1->Active()) << "the converter stays active across conversations";
    EXPECT_TRUE(form->Edit1->isEnabled());
    EXPECT_TRUE(form->SpeedButton3->isEnabled());
    EXPECT_TRUE(form->SpeedButton5->isEnabled());
    EXPECT_TRUE(form->currentPeer().isEmpty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Silent"));
}

TEST_F(MainWindowTest, SendRingAndSendStopPutTheSignalsOnTheWire)
{
    createForm();
    form->Edit1->setText(QStringLiteral("127.0.0.1"));
    form->SpeedButton3->click();
    QNetworkDatagram ring = nextDatagram();
    ASSERT_TRUE(ring.isValid());
    EXPECT_EQ(ring.data().size(), 390);
    EXPECT_TRUE(ring.data().startsWith("ring"));
    EXPECT_EQ(ring.senderPort(), 5551);
    EXPECT_FALSE(form->SpeedButton3->isEnabled());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Sending ring"));

    form->SpeedButton4->setEnabled(true);  // a received datagram would enable it
    form->SpeedButton4->click();
    QNetworkDatagram stop = nextDatagram();
    ASSERT_TRUE(stop.isValid());
    EXPECT_EQ(stop.data().size(), 390);
    EXPECT_TRUE(stop.data().startsWith("stop"));
    EXPECT_FALSE(form->SpeedButton4->isEnabled());
    EXPECT_TRUE(form->Edit1->text().isEmpty());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Sending STOP"));
}

TEST_F(MainWindowTest, SendStopWhileSpeakingKeepsRecordingAndSending)
{
    createForm();
    form->Edit1->setText(QStringLiteral("127.0.0.1"));
    form->SpeedButton1->click();
    form->SpeedButton4->setEnabled(true);
    form->SpeedButton4->click();
    ASSERT_TRUE(nextDatagram().data().startsWith("stop"));
    EXPECT_TRUE(form->ACMIn1->Active());
    EXPECT_TRUE(form->SpeedButton1->isChecked());
    ASSERT_TRUE(audio->fill(speechLikeBuffer()));
    EXPECT_EQ(nextDatagram().data().size(), 390);
}

TEST_F(MainWindowTest, ChangingTheAddressDisablesSendStop)
{
    createForm();
    form->SpeedButton4->setEnabled(true);
    form->Edit1->setText(QStringLiteral("10.0.0.1"));
    EXPECT_FALSE(form->SpeedButton4->isEnabled());
}

TEST_F(MainWindowTest, AnInvalidAddressIsReportedAndChangesNothing)
{
    createForm();
    for (const QString& address : {QString(), QStringLiteral("225.1.1.1"), QStringLiteral("10.0.0")}) {
        form->Edit1->setText(address);
        boxes.messages.clear();
        form->SpeedButton1->click();
        EXPECT_TRUE(form->SpeedButton2->isChecked()) << "Silent is put back down";
        form->SpeedButton3->click();
        form->SpeedButton6->click();
        EXPECT_EQ(boxes.messages, QStringList(3, QStringLiteral("Enter a valid IP address!!!")));
        EXPECT_TRUE(form->currentPeer().isEmpty());
        EXPECT_TRUE(form->SpeedButton3->isEnabled());
        EXPECT_EQ(audio->count(Op::WaveInOpen), 0);
    }
    EXPECT_FALSE(peer.hasPendingDatagrams());
}

TEST_F(MainWindowTest, AnOversizeFirstGroupEndsTheHandlerWithTheConversionError)
{
    createForm();
    form->Edit1->setText(QStringLiteral("12345678901.0.0.1"));
    form->SpeedButton3->click();
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("'12345678901' is not a valid integer value")});
    EXPECT_TRUE(form->SpeedButton3->isEnabled());
}

TEST_F(MainWindowTest, SendRingToTheNullAddressFailsAfterTheStateHasChanged)
{
    createForm();
    form->Edit1->setText(QStringLiteral("0.0.0.0"));
    form->SpeedButton3->click();
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("Null Remote Address")});
    EXPECT_FALSE(form->SpeedButton3->isEnabled());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("0.0.0.0"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Sending ring"));
}

TEST_F(MainWindowTest, AFailingVoiceSendIsShownOnceAndTheCallFallsBackToSilent)
{
    createForm();
    form->Edit1->setText(QStringLiteral("0.0.0.0"));
    form->SpeedButton1->click();
    ASSERT_TRUE(form->ACMIn1->Active());
    ASSERT_TRUE(audio->fill(speechLikeBuffer()));
    processEventsUntil([this] { return !errors.messages.isEmpty(); });
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("Null Remote Address")});
    EXPECT_FALSE(form->ACMIn1->Active());
    EXPECT_TRUE(form->SpeedButton2->isChecked());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Silent"));
    EXPECT_FALSE(audio->fill(speechLikeBuffer())) << "nothing is recording any more";
}

TEST_F(MainWindowTest, SendMessageNeedsOnlyANonEmptyAddress)
{
    createForm();
    form->SendMessage(makeTextMessage("hi"));
    EXPECT_EQ(boxes.messages, QStringList{QStringLiteral("Enter a valid IP address!!!")});

    form->Edit1->setText(QStringLiteral("127.0.0.1"));
    form->SendMessage(makeTextMessage("hi"));
    const QNetworkDatagram text = nextDatagram();
    EXPECT_EQ(text.data().size(), 390);
    EXPECT_TRUE(text.data().startsWith("|messhi|"));
    EXPECT_FALSE(form->SpeedButton3->isEnabled());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1"));
}

TEST_F(MainWindowTest, AReceivePortHeldByAnotherProgramIsToldOnceAtStart)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, 5552, QUdpSocket::DontShareAddress));
    TForm1 blocked;
    EXPECT_EQ(boxes.messages, QStringList{QStringLiteral("Kavelo cannot receive calls: UDP port 5552 is in use.")});
    EXPECT_EQ(blocked.NMUDP2->BoundPort(), 0);
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
    EXPECT_FALSE(form->CheckBox1->isChecked());
}

TEST_F(MainWindowTest, ProgramFolderComesFromTheAutostartValue)
{
    AutostartStore::write(QStringLiteral("Kavelo"), autostartCommand(QStringLiteral("/opt/kavelo test/")));
    createForm();
    EXPECT_EQ(form->programFolder(), QStringLiteral("/opt/kavelo test/"));
    EXPECT_TRUE(form->CheckBox1->isChecked());
}

} // namespace
} // namespace kavelo::test
