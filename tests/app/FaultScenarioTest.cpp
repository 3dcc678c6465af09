// What the user sees when the machine around Kavelo misbehaves: no sound
// server, a sound server that goes away in a call, a microphone that cannot be
// started, a program folder that cannot be written, a contact list that cannot
// be read, a host name whose lookup never ends. In each the program goes on,
// tells the user in plain words, and keeps its windows answering.
#include "MainWindowFixture.h"

#include "net/DatagramProtocol.h"
#include "app/ProgramFolder.h"
#include "audio/AudioCapture.h"
#include "audio/AudioPlayback.h"
#include "store/AutostartStore.h"
#include "platform/pulse/PulseAudioBackend.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QSystemTrayIcon>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <arpa/inet.h>
#include <cmath>

namespace kavelo::test {
namespace {

using Op = FakeAudioBackend::Op;

// Counts the turns of the GUI thread's event loop: a handler that blocks the
// thread stops the count, one that waits inside a nested loop does not.
class LoopTicker {
public:
    LoopTicker()
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { ++ticks; });
        timer_.start();
    }
    int ticks = 0;

private:
    QTimer timer_;
};

QByteArray voiceBlock()
{
    QByteArray voice(390, '\0');
    for (int i = 0; i < voice.size(); ++i)
        voice[i] = static_cast<char>(0x40 + (i * 7) % 50);
    return voice;
}

QByteArray asBytes(const DatagramBuffer& datagram)
{
    return QByteArray(datagram.data(), static_cast<qsizetype>(datagram.size()));
}

QByteArray speechLikeBuffer()
{
    QByteArray pcm(2000, '\0');
    for (int i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<char>(128 + 60 * std::sin(i * 0.3));
    return pcm;
}

using FaultTest = MainWindowTest;

// --- The sound server ---------------------------------------------------------

TEST_F(FaultTest, WithoutASoundServerSpeakIsRefusedInPlainWordsAndReceivingGoesOn)
{
    // The real backend, pointed at a server socket that does not exist.
    setDefaultAudioBackend(makePulseAudioBackend(
        PulseEndpoints{"unix:" + folder.filePath(QStringLiteral("no-server/native")).toStdString(), {}, {}}));
    createForm();
    ASSERT_TRUE(form->isEnabled());

    addressEdit->setText(QStringLiteral("127.0.0.1"));
    speakButton->click();
    ASSERT_EQ(errors.messages.size(), 1);
    EXPECT_EQ(errors.messages.front(), QStringLiteral("WaveIn-Open The specified resource does not exist."));
    EXPECT_FALSE(capture->Active());
    // Nothing goes out while nothing records; "Silent" brings the window back to idle.
    EXPECT_FALSE(nextDatagram(300).isValid());
    silentButton->click();
    EXPECT_TRUE(addressEdit->isEnabled());
    EXPECT_TRUE(form->currentPeer().isEmpty());

    // Text still arrives and is shown; voice is refused once per datagram, never fatally.
    errors.messages.clear();
    sendToWindow(asBytes(makeTextMessage("still there?")));
    ASSERT_TRUE(processEventsUntil([this] { return messages->conversationPane->toPlainText().contains(QStringLiteral("still there?")); }));
    EXPECT_TRUE(errors.messages.isEmpty()) << errors.messages.join(QLatin1Char('\n')).toStdString();
    sendToWindow(voiceBlock());
    ASSERT_TRUE(processEventsUntil([this] { return !errors.messages.isEmpty(); }));
    EXPECT_EQ(errors.messages.front(), QStringLiteral("WaveOutOpen The specified resource does not exist."));
    EXPECT_FALSE(playback->Active());

    // A ring from the same peer still brings up the alert naming the caller.
    sendToWindow(asBytes(makeRingSignal()));
    ASSERT_TRUE(processEventsUntil([this] { return ringAlert->isVisible(); }));
    EXPECT_TRUE(ringAlert->callerLabel->text().contains(QStringLiteral("127.0.0.1")));
}

TEST_F(FaultTest, ASuspendedMicrophoneThatCannotStartIsReportedAndSilentRecovers)
{
    // A suspended source never lets a stream start: the open gives up as "in use".
    audio->answer(Op::WaveInOpen, MMSYSERR_ALLOCATED);
    createForm();
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    speakButton->click();
    ASSERT_EQ(errors.messages, QStringList{QStringLiteral("WaveIn-Open The specified resource is already in use.")});
    EXPECT_FALSE(capture->Active());
    EXPECT_EQ(audio->openCapture(), nullptr);
    EXPECT_TRUE(audio->misuse().isEmpty()) << audio->misuse().join(QLatin1Char('\n')).toStdString();

    // Once the microphone is back, the next try records.
    silentButton->click();
    speakButton->click();
    ASSERT_TRUE(capture->Active());
    ASSERT_TRUE(audio->fill(speechLikeBuffer()));
    EXPECT_TRUE(nextDatagram().isValid());
    EXPECT_EQ(errors.messages.size(), 1);
}

// A microphone lost in a call (unplugged, suspended, its server restarted)
// hands back every buffer it held, with no sound in them. Only what was
// captured may go on the wire: never the last buffer again, never memory that
// was never written. The loss is told once, and the talk goes on by itself
// once the microphone opens again.
TEST_F(FaultTest, AMicrophoneLostInACallSendsNothingItDidNotHearAndComesBackByItself)
{
    createForm();
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    speakButton->click();
    ASSERT_TRUE(capture->Active());
    const QByteArray heard = speechLikeBuffer().left(1920);
    ASSERT_TRUE(audio->fill(heard));
    const QNetworkDatagram first = nextDatagram();
    ASSERT_TRUE(first.isValid());
    EXPECT_EQ(first.data().size(), 65);

    // Gone: what the device held comes back empty, and it takes nothing again.
    audio->answerAlways(Op::WaveInAddBuffer, MMSYSERR_BADDEVICEID);
    audio->answerAlways(Op::WaveInOpen, MMSYSERR_BADDEVICEID);
    int handedBack = 0;
    while (audio->fill(QByteArrayView()))
        ++handedBack;
    ASSERT_GT(handedBack, 0);
    processEventsFor(300);
    EXPECT_FALSE(nextDatagram(300).isValid()) << "sound nobody said went on the wire";
    ASSERT_EQ(errors.messages.size(), 1) << errors.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(errors.messages.front().startsWith(QStringLiteral("WaveIn"))) << errors.messages.front().toStdString();
    EXPECT_FALSE(capture->Active());

    // Tried again while it stays gone, without another box.
    processEventsFor(2500);
    EXPECT_GE(audio->count(Op::WaveInOpen), 3);
    EXPECT_EQ(errors.messages.size(), 1);
    EXPECT_FALSE(nextDatagram(100).isValid());

    // Back: the talk goes on with nothing done by the user.
    audio->clearAnswers();
    ASSERT_TRUE(processEventsUntil([this] { return capture->Active(); }, 3000));
    EXPECT_TRUE(speakButton->isChecked());
    ASSERT_TRUE(audio->fill(heard));
    const QNetworkDatagram resumed = nextDatagram();
    ASSERT_TRUE(resumed.isValid());
    EXPECT_EQ(resumed.data().size(), 65);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Speaking 1625 B/s"));
    EXPECT_EQ(errors.messages.size(), 1);

    // "Silent" ends the tries.
    silentButton->click();
    const int opens = audio->count(Op::WaveInOpen);
    processEventsFor(1500);
    EXPECT_EQ(audio->count(Op::WaveInOpen), opens);
    EXPECT_TRUE(audio->misuse().isEmpty()) << audio->misuse().join(QLatin1Char('\n')).toStdString();
}

// A buffer handed back part filled (the microphone went mid-buffer) holds no
// whole block: it sends nothing of what the buffer held before.
TEST_F(FaultTest, APartlyFilledBufferSendsNothingOfWhatItHeldBefore)
{
    createForm();
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    speakButton->click();
    ASSERT_TRUE(audio->fill(speechLikeBuffer().left(320)));
    const QNetworkDatagram whole = nextDatagram();
    ASSERT_TRUE(whole.isValid());
    EXPECT_EQ(whole.data().size(), 65);

    // Less than a block holds nothing whole to send, and is no failure.
    ASSERT_TRUE(audio->fill(speechLikeBuffer().left(319)));
    EXPECT_FALSE(nextDatagram(300).isValid());
    EXPECT_TRUE(errors.messages.isEmpty()) << errors.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(capture->Active());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Speaking 1625 B/s"));
}

TEST_F(FaultTest, AStartThatFailsHalfWayGivesTheDeviceBack)
{
    audio->answer(Op::WaveInStart, MMSYSERR_ALLOCATED);
    createForm();
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    speakButton->click();
    ASSERT_EQ(errors.messages, QStringList{QStringLiteral("WaveIn-Start The specified resource is already in use.")});
    EXPECT_FALSE(capture->Active());
    ASSERT_FALSE(audio->devices().empty());
    EXPECT_TRUE(audio->devices().back()->closed) << "a failed start keeps no device open";
    EXPECT_TRUE(audio->misuse().isEmpty()) << audio->misuse().join(QLatin1Char('\n')).toStdString();
}

// The server goes away in a call: every further quarter second of the peer's
// voice is refused by the device. A box that comes back after each datagram
// would keep the user from ever reaching "Silent"; the failure is shown once.
TEST_F(FaultTest, ASoundServerLostInACallIsShownOnceNotWithEveryVoiceDatagram)
{
    createForm();
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    speakButton->click();
    sendToWindow(voiceBlock());
    ASSERT_TRUE(processEventsUntil([this] { return playback->Active(); }));

    audio->answerAlways(Op::WaveOutWrite, MMSYSERR_BADDEVICEID);
    audio->answerAlways(Op::WaveInAddBuffer, MMSYSERR_BADDEVICEID);
    audio->answerAlways(Op::WaveOutOpen, MMSYSERR_BADDEVICEID);
    audio->answerAlways(Op::WaveInOpen, MMSYSERR_BADDEVICEID);

    // Each box stays up a moment, as a person reads it, while the peer keeps talking.
    int boxes = 0;
    const ErrorReporter previous = setErrorReporter([&](const QString& message) {
        ++boxes;
        errors.messages.append(message);
        processEventsFor(150);
    });
    LoopTicker ticker;
    QTimer peerTalks;
    peerTalks.setInterval(100);
    int sent = 0;
    QObject::connect(&peerTalks, &QTimer::timeout, [&] {
        if (sent++ < 20)
            sendToWindow(voiceBlock());
    });
    peerTalks.start();
    ASSERT_TRUE(audio->fill(speechLikeBuffer()));
    processEventsUntil([&] { return sent >= 20; }, 10000);
    processEventsFor(300);
    peerTalks.stop();
    setErrorReporter(previous);

    EXPECT_GT(ticker.ticks, 20) << "the event loop stood still";
    ASSERT_GE(boxes, 1);
    for (const QString& message : std::as_const(errors.messages))
        EXPECT_TRUE(message.endsWith(QStringLiteral(" The specified resource does not exist."))) << message.toStdString();
    EXPECT_LE(errors.messages.count(QStringLiteral("WaveOut-Write The specified resource does not exist.")), 1)
        << "the same playback failure was shown " << boxes << " times: "
        << errors.messages.join(QLatin1Char('\n')).toStdString();

    // The user can end the call, and the window is idle and usable again.
    silentButton->click();
    EXPECT_FALSE(capture->Active());
    EXPECT_FALSE(playback->Active());
    EXPECT_TRUE(addressEdit->isEnabled());
    EXPECT_TRUE(audio->misuse().isEmpty()) << audio->misuse().join(QLatin1Char('\n')).toStdString();
}

// Every open of a device that cannot play may wait for the server; voice
// keeps arriving four times a second, the tries may not.
TEST_F(FaultTest, PlaybackThatCannotOpenIsTriedAgainAboutOnceASecondAndToldOnce)
{
    createForm();
    audio->answerAlways(Op::WaveOutOpen, MMSYSERR_BADDEVICEID);
    const auto sendVoice = [this](int count) {
        for (int i = 0; i < count; ++i)
            sendToWindow(voiceBlock());
        processEventsFor(200); // loopback delivers them meanwhile
    };
    sendVoice(6);
    EXPECT_EQ(audio->count(Op::WaveOutOpen), 1) << "every datagram tried to open playback";
    processEventsFor(1100);
    sendVoice(3);
    EXPECT_EQ(audio->count(Op::WaveOutOpen), 2);
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("WaveOutOpen The specified resource does not exist.")});

    // The server is back: the next try plays.
    audio->clearAnswers();
    processEventsFor(1100);
    sendVoice(1);
    EXPECT_TRUE(playback->Active());
    EXPECT_EQ(audio->count(Op::WaveOutOpen), 3);
    EXPECT_TRUE(audio->misuse().isEmpty()) << audio->misuse().join(QLatin1Char('\n')).toStdString();
}

// --- Files in the program folder ------------------------------------------------

class ProgramFolderFaultTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        programDir = folder.filePath(QStringLiteral("program"));
        ASSERT_TRUE(QDir().mkpath(programDir));
        AutostartStore::write(QString::fromLatin1(kAutostartName), autostartCommand(programDir + QLatin1Char('/')));
    }

    QString programDir;
};

TEST_F(ProgramFolderFaultTest, AFolderThatCannotBeWrittenAtCloseKeepsTheWindowOpenAndSaysWhy)
{
    createForm();
    form->show();
    ASSERT_TRUE(form->isVisible());
    bool closed = false;
    QObject::connect(form.get(), &MainWindow::closed, [&] { closed = true; });

    // The folder is gone (or read-only) by the time the user closes.
    ASSERT_TRUE(QDir().rename(programDir, programDir + QStringLiteral("-away")));
    EXPECT_FALSE(form->close());
    ASSERT_EQ(errors.messages.size(), 1);
    EXPECT_TRUE(errors.messages.front().contains(programDir + QStringLiteral("/app.txt")))
        << errors.messages.front().toStdString();
    EXPECT_FALSE(closed);
    EXPECT_TRUE(form->isVisible());

    // Still a working window: it receives and answers.
    sendToWindow(asBytes(makeTextMessage("are you closing?")));
    ASSERT_TRUE(processEventsUntil([this] { return messages->conversationPane->toPlainText().contains(QStringLiteral("are you closing?")); }));

    // With the folder back, the next close writes the settings and ends.
    ASSERT_TRUE(QDir().rename(programDir + QStringLiteral("-away"), programDir));
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(closed);
    EXPECT_EQ(QFileInfo(programDir + QStringLiteral("/app.txt")).size(), 104);
    EXPECT_EQ(errors.messages.size(), 1);
}

TEST_F(ProgramFolderFaultTest, AnAppTxtThatIsNoFileIsReportedAtCloseAndLeftAlone)
{
    createForm();
    form->show();
    ASSERT_TRUE(QDir().mkpath(programDir + QStringLiteral("/app.txt")));
    EXPECT_FALSE(form->close());
    ASSERT_EQ(errors.messages.size(), 1);
    EXPECT_TRUE(errors.messages.front().startsWith(QStringLiteral("Cannot write "))) << errors.messages.front().toStdString();
    EXPECT_TRUE(QFileInfo(programDir + QStringLiteral("/app.txt")).isDir());
    EXPECT_TRUE(form->isVisible());
}

// Put away into the tray, the window is hidden when "Exit" is chosen: a close
// that cannot write app.txt must not leave the program running unseen.
class UnsavedCloseTest : public ProgramFolderFaultTest {
protected:
    QString appTxt() const { return programDir + QStringLiteral("/app.txt"); }

    // The window shown once (its settings read), then minimised into the tray;
    // a folder stands where app.txt goes; "Exit" from the tray menu.
    void exitFromTheTrayWithAppTxtBlocked()
    {
        createForm();
        form->show();
        trayIcon->show();
        form->setWindowState(Qt::WindowMinimized);
        form->hide();
        ASSERT_TRUE(QDir().mkpath(appTxt()));
        QObject::connect(form.get(), &MainWindow::closed, [this] { closed = true; });
        onUnsavedClose = [this](const QString&) {
            windowShownUnderTheBox = form->isVisible() && !form->isMinimized();
            // The tray's "Exit" once more while the box is up.
            exitAction->trigger();
            boxesWhileAsked = errors.messages.size();
        };
        exitAction->trigger();
    }

    bool closed = false;
    bool windowShownUnderTheBox = false;
    qsizetype boxesWhileAsked = 0;
};

TEST_F(UnsavedCloseTest, ACancelledCloseKeepsTheWindowAndTheTrayIconAndTheNextCloseSaves)
{
    exitFromTheTrayWithAppTxtBlocked();
    ASSERT_EQ(errors.messages.size(), 1);
    EXPECT_TRUE(errors.messages.front().startsWith(QStringLiteral("Cannot write ") + appTxt()))
        << errors.messages.front().toStdString();
    EXPECT_TRUE(windowShownUnderTheBox) << "the error came up over no window";
    EXPECT_EQ(boxesWhileAsked, 1) << "a second Exit opened a second box";
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());
    EXPECT_TRUE(trayIcon->isVisible());
    EXPECT_FALSE(closed);

    // The cause put right, the next close saves and ends.
    onUnsavedClose = nullptr;
    ASSERT_TRUE(QDir().rmdir(appTxt()));
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(closed);
    EXPECT_FALSE(trayIcon->isVisible());
    EXPECT_EQ(QFileInfo(appTxt()).size(), 104);
    EXPECT_EQ(errors.messages.size(), 1);
}

TEST_F(UnsavedCloseTest, QuitWithoutSavingEndsTheProgramAndLeavesTheFolderAlone)
{
    exitFromTheTrayWithAppTxtBlocked();
    ASSERT_FALSE(closed);
    ASSERT_TRUE(form->isVisible());

    onUnsavedClose = nullptr;
    unsavedCloseAnswer = UnsavedCloseAnswer::QuitWithoutSaving;
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(closed);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(trayIcon->isVisible());
    EXPECT_TRUE(QFileInfo(appTxt()).isDir());
    EXPECT_EQ(errors.messages.size(), 2);
}

TEST_F(ProgramFolderFaultTest, AContactListThatCannotBeReadNamesCallersByAddressWithoutABox)
{
    // A folder in place of the file cannot be opened by anybody, root included.
    ASSERT_TRUE(QDir().mkpath(programDir + QStringLiteral("/contacts.vip")));
    createForm();

    sendToWindow(asBytes(makeTextMessage("hello")));
    ASSERT_TRUE(processEventsUntil([this] { return messages->conversationPane->toPlainText().contains(QStringLiteral("hello")); }));
    EXPECT_TRUE(messages->conversationPane->toPlainText().contains(QStringLiteral("127.0.0.1 (")));

    // In a call, a third party's ring is listed under its address.
    addressEdit->setText(QStringLiteral("127.0.0.1"));
    speakButton->click();
    sendToWindow(asBytes(makeRingSignal()), QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([this] { return missedCalls->missedCallsView->topLevelItemCount() > 0; }));
    EXPECT_EQ(missedCalls->missedCallsView->topLevelItem(0)->text(0), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("127.0.0.2 tries to connect"));
    EXPECT_TRUE(errors.messages.isEmpty()) << errors.messages.join(QLatin1Char('\n')).toStdString();

    // The contact list window itself opens on it without ending the program.
    silentButton->click();
    contactListButton->click();
    EXPECT_TRUE(contactList->isVisible());
}

// --- Host lookup --------------------------------------------------------------

// An endpoint whose host lookups never end unless the test ends them.
class StalledLookupUDP : public UdpEndpoint {
public:
    using UdpEndpoint::UdpEndpoint;
    void finish(const char* address) { hostLookupFinished(true, ::inet_addr(address)); }
    void fail() { hostLookupFinished(false, 0); }
    QStringList lookups;

protected:
    void startHostLookup(const QString& name) override { lookups.append(name); }
};

TEST_F(FaultTest, AHostLookupThatNeverAnswersLeavesTheWindowsWorking)
{
    createForm();
    form->show();
    StalledLookupUDP endpoint(nullptr);
    endpoint.RemoteHost = QStringLiteral("peer.invalid");
    endpoint.RemotePort = 5552;

    // While the send waits, the user works the main window and datagrams arrive.
    LoopTicker ticker;
    bool waitedWhileUsable = false;
    QTimer user;
    user.setInterval(20);
    int step = 0;
    QObject::connect(&user, &QTimer::timeout, [&] {
        switch (step++) {
        case 0:
            addressEdit->setText(QStringLiteral("127.0.0.1"));
            break;
        case 1:
            contactListButton->click();
            break;
        case 2:
            sendToWindow(asBytes(makeTextMessage("during the lookup")));
            break;
        default:
            // A lookup that never answers: give up on it only after the window
            // has shown it answers meanwhile.
            if (step > 200 || (contactList->isVisible() &&
                               messages->conversationPane->toPlainText().contains(QStringLiteral("during the lookup")) &&
                               ticker.ticks > 30)) {
                waitedWhileUsable = step <= 200;
                user.stop();
                endpoint.fail();
            }
        }
    });
    user.start();
    const DatagramBuffer ring = makeRingSignal();
    try {
        endpoint.SendDatagram(std::span<const char>(ring), kDatagramSize);
        ADD_FAILURE() << "a failed lookup sent the datagram";
    } catch (const UdpEndpointError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Host Lookup Canceled"));
    }
    EXPECT_TRUE(waitedWhileUsable) << "the windows did not answer while the lookup was pending";
    EXPECT_EQ(endpoint.lookups, QStringList{QStringLiteral("peer.invalid")});
    EXPECT_FALSE(nextDatagram(200).isValid());
}

TEST_F(FaultTest, AHostLookupThatAnswersLateStillSends)
{
    createForm();
    StalledLookupUDP endpoint(nullptr);
    endpoint.RemoteHost = QStringLiteral("peer.invalid");
    endpoint.RemotePort = 5552;
    LoopTicker ticker;
    QTimer::singleShot(300, [&] { endpoint.finish("127.0.0.1"); });
    const DatagramBuffer ring = makeRingSignal();
    endpoint.SendDatagram(std::span<const char>(ring), kDatagramSize);
    EXPECT_GT(ticker.ticks, 5) << "the event loop stood still while the name was looked up";
    const QNetworkDatagram sent = nextDatagram();
    ASSERT_TRUE(sent.isValid());
    EXPECT_TRUE(sent.data().startsWith("ring"));
}

} // namespace
} // namespace kavelo::test
