#include "MainWindowFixture.h"

#include "audio/GsmConverter.h"
#include "windows/AccessibleAnnouncer.h"
#include "audio/AudioCapture.h"
#include "audio/AudioPlayback.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextDocument>
#include <QSystemTrayIcon>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <sndfile.h>

namespace kavelo::test {
namespace {

using Op = FakeAudioBackend::Op;

class ReceiveDispatchTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        createForm();
        writeContacts("Ann|127.0.0.2\r\nBob|127.0.0.12\r\nMe|127.0.0.1\r\n");
    }

    // Puts the window into a conversation with 127.0.0.1.
    void speakTo127001()
    {
        addressEdit->setText(QStringLiteral("127.0.0.1"));
        speakButton->click();
        ASSERT_TRUE(capture->Active());
    }

    void writeRingSound()
    {
        SF_INFO info{};
        info.samplerate = 8000;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        const QByteArray path = (form->programFolder() + QStringLiteral("Phone.wav")).toLocal8Bit();
        SNDFILE* file = sf_open(path.constData(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        std::vector<short> tone(4000, 1000);
        sf_write_short(file, tone.data(), static_cast<sf_count_t>(tone.size()));
        sf_close(file);
    }

    int missedRows() const { return missedCalls->missedCallsView->topLevelItemCount(); }
};

TEST_F(ReceiveDispatchTest, VoiceFromAnyoneWhileIdleIsPlayedAtOnce)
{
    const QByteArray voice(390, '\x42');
    sendToWindow(voice);
    ASSERT_TRUE(processEventsUntil([this] { return audio->count(Op::WaveOutWrite) == 1; }));
    EXPECT_EQ(addressEdit->text(), QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(playback->Active());
    EXPECT_EQ(playback->NumBuffers(), 0);
    EXPECT_EQ(audio->openPlayback()->format, converter->ACMFormatOut());
    EXPECT_EQ(audio->calls().back().bytes, voice);
    EXPECT_FALSE(contactListButton->isEnabled());
    EXPECT_FALSE(sendStopButton->isEnabled()) << "the sender's address put into the field is an edit of it";
    EXPECT_EQ(missedRows(), 0);

    sendToWindow(QByteArray(130, '\x43'));
    ASSERT_TRUE(processEventsUntil([this] { return audio->count(Op::WaveOutWrite) == 2; }));
    EXPECT_TRUE(sendStopButton->isEnabled()) << "a datagram offers Send STOP";
    EXPECT_EQ(audio->count(Op::WaveOutOpen), 1) << "playback stays open for the conversation";
}

TEST_F(ReceiveDispatchTest, ARingShowsTheAlertWithTheCallersNameAndPlaysTheRingSound)
{
    writeRingSound();
    sendToWindow(QByteArray("ring").leftJustified(390, '\0'), QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([this] { return ringAlert->isVisible(); }));
    EXPECT_EQ(ringAlert->callerLabel->text(), QStringLiteral("Ann"));
    EXPECT_EQ(addressEdit->text(), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(audio->count(Op::WaveOutOpen), 1) << "the ring sound's device";
    EXPECT_EQ(audio->openPlayback()->format.bitsPerSample(), 16);
    EXPECT_GT(audio->count(Op::WaveOutWrite), 0);
    EXPECT_TRUE(errors.messages.isEmpty());

    // Dismissed while it rings: the sound stops and no stream is left behind.
    ringAlert->okButton->click();
    EXPECT_EQ(audio->openPlayback(), nullptr);
    EXPECT_EQ(audio->count(Op::WaveOutClose), 1);
}

TEST_F(ReceiveDispatchTest, AMissingRingSoundIsToldButTheAlertStillNamesTheCaller)
{
    sendToWindow("ring", QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([this] { return !errors.messages.isEmpty(); }));
    EXPECT_TRUE(ringAlert->isVisible());
    EXPECT_EQ(ringAlert->callerLabel->text(), QStringLiteral("Ann"));
    ASSERT_EQ(errors.messages.size(), 1);
    EXPECT_TRUE(errors.messages[0].contains(QStringLiteral("Phone.wav")));
}

TEST_F(ReceiveDispatchTest, AContactLineIsMatchedByItsWholeAddress)
{
    sendToWindow("ring", QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(processEventsUntil([this] { return ringAlert->isVisible(); }));
    EXPECT_EQ(ringAlert->callerLabel->text(), QStringLiteral("Me")) << "not Bob at 127.0.0.12";
}

TEST_F(ReceiveDispatchTest, AThirdPartyDuringACallIsListedOnceAndShownAtSilent)
{
    speakTo127001();
    sendToWindow("ring", QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([this] { return missedRows() == 1; }));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Ann tries to connect"));
    EXPECT_EQ(missedCalls->missedCallsView->topLevelItem(0)->text(0), QStringLiteral("Ann"));
    EXPECT_FALSE(ringAlert->isVisible()) << "a third party never rings";
    EXPECT_EQ(audio->count(Op::WaveOutOpen), 0) << "and is never played";
    EXPECT_EQ(addressEdit->text(), QStringLiteral("127.0.0.1"));

    sendToWindow(QByteArray(390, '\x11'), QStringLiteral("127.0.0.2"));
    sendToWindow("stop", QStringLiteral("127.0.0.3"));
    ASSERT_TRUE(processEventsUntil([this] { return missedRows() == 2; }));
    EXPECT_EQ(missedCalls->missedCallsView->topLevelItem(1)->text(0), QStringLiteral("127.0.0.3"));
    EXPECT_TRUE(form->missedCalls());

    EXPECT_FALSE(missedCalls->isVisible());
    silentButton->click();
    EXPECT_TRUE(missedCalls->isVisible());
    EXPECT_FALSE(form->missedCalls());
    missedCalls->hide();
    silentButton->click();
    EXPECT_FALSE(missedCalls->isVisible()) << "shown once per recorded call";
}

// A third party that talks sends four datagrams a second; a screen reader
// hears its attempt once, not with every datagram, and each new caller anew.
TEST_F(ReceiveDispatchTest, AThirdPartyThatKeepsTalkingIsAnnouncedOnce)
{
    speakTo127001();
    QSignalSpy announcements(announcer, &AccessibleAnnouncer::told);
    for (int i = 0; i < 8; ++i)
        sendToWindow(QByteArray(390, '\x11'), QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([this] { return missedRows() == 1; }));
    processEventsFor(300);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Ann tries to connect"));
    EXPECT_EQ(announcements.count(), 1);

    sendToWindow(QByteArray(390, '\x11'), QStringLiteral("127.0.0.3"));
    ASSERT_TRUE(processEventsUntil([this] { return missedRows() == 2; }));
    EXPECT_EQ(announcements.count(), 2);
    EXPECT_EQ(announcer->text(), QStringLiteral("127.0.0.3 tries to connect"));
}

// A screen reader reads the caption as the window's name; what the caption
// shows only until the next captured buffer, and a received line, come up as
// a notification of their own, which keeps its text until the next one.
TEST_F(ReceiveDispatchTest, AScreenReaderHearsTheStatusAThirdPartyAndAReceivedLine)
{
    const auto textOf = [](QObject* object) {
        const QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
        return accessible != nullptr ? accessible->text(QAccessible::Name) : QStringLiteral("(none)");
    };
    EXPECT_EQ(textOf(form.get()), QStringLiteral("Kavelo 1.0b PC-PC call"));
    EXPECT_EQ(trayIcon->toolTip(), QStringLiteral("Kavelo: PC-to-PC voice calls"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form.get())->role(), QAccessible::Window);
    speakTo127001();
    ASSERT_TRUE(audio->fill(converter->InputBufferSize(), '\x40'));
    ASSERT_TRUE(processEventsUntil([&] { return textOf(form.get()) == QStringLiteral("Speaking 1625 B/s"); }));

    sendToWindow("ring", QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([this] { return missedRows() == 1; }));
    ASSERT_TRUE(audio->fill(converter->InputBufferSize(), '\x40')); // the caption goes back at once
    ASSERT_TRUE(processEventsUntil([&] { return textOf(form.get()) == QStringLiteral("Speaking 1625 B/s"); }));
    const QAccessibleInterface* announcement = QAccessible::queryAccessibleInterface(announcer);
    ASSERT_NE(announcement, nullptr);
    EXPECT_EQ(announcement->role(), QAccessible::Notification);
    EXPECT_EQ(textOf(announcer), QStringLiteral("Ann tries to connect"));
    EXPECT_EQ(announcement->parent()->object(), form.get());

    sendToWindow("|messhello|", QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([&] { return textOf(announcer).endsWith(QStringLiteral("): hello")); }));
    EXPECT_TRUE(textOf(announcer).startsWith(QStringLiteral("Ann ("))) << "told with its sender";
    silentButton->click();
    EXPECT_EQ(textOf(form.get()), QStringLiteral("Silent"));
    // The tray icon's tooltip says the same.
    EXPECT_EQ(trayIcon->toolTip(), QStringLiteral("Kavelo: Silent"));
}

TEST_F(ReceiveDispatchTest, AStopWhileSpeakingEndsTheConversationWithAMessage)
{
    speakTo127001();
    sendToWindow("stop", QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(processEventsUntil([this] { return !boxes.messages.isEmpty(); }));
    EXPECT_EQ(boxes.messages,
              QStringList{QStringLiteral("You recieved STOP signal from Me maybe you should call him/her later.")});
    EXPECT_TRUE(silentButton->isChecked());
    EXPECT_FALSE(capture->Active());
    EXPECT_TRUE(addressEdit->text().isEmpty());
    EXPECT_TRUE(form->currentPeer().isEmpty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Silent"));
}

TEST_F(ReceiveDispatchTest, DatagramsArrivingWhileTheStopBoxIsOpenAreStillHandled)
{
    speakTo127001();
    bool nestedHandled = false;
    boxes.onShow = [&](const QString&) {
        sendToWindow(QByteArray(390, '\x55'), QStringLiteral("127.0.0.5"));
        nestedHandled = processEventsUntil([this] { return audio->count(Op::WaveOutWrite) == 1; });
    };
    sendToWindow("stop", QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(processEventsUntil([this] { return !boxes.messages.isEmpty(); }));
    EXPECT_TRUE(nestedHandled) << "the idle program played the next sender's voice inside the box's loop";
}

TEST_F(ReceiveDispatchTest, AStopWhileIdleIsPlayedLikeVoice)
{
    sendToWindow("stop", QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(processEventsUntil([this] { return audio->count(Op::WaveOutWrite) == 1; }));
    EXPECT_EQ(audio->calls().back().bytes, QByteArray("stop"));
    EXPECT_TRUE(boxes.messages.isEmpty());
}

TEST_F(ReceiveDispatchTest, TextLinesShowLiterallyWithNameAndTime)
{
    const QByteArray hostile = "|mess<b>x</b><img src=\"file:///etc/passwd\">|tail";
    sendToWindow(hostile, QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([this] { return messages->isVisible(); }));
    const QString pane = messages->conversationPane->toPlainText();
    EXPECT_TRUE(pane.startsWith(QStringLiteral("Ann (")));
    EXPECT_TRUE(pane.endsWith(QStringLiteral("): <b>x</b><img src=\"file:///etc/passwd\">"))) << pane.toStdString();
    EXPECT_FALSE(messages->conversationPane->document()->toHtml().contains(QStringLiteral("<img")));
}

TEST_F(ReceiveDispatchTest, AThirdPartysTextIsShownWithoutTouchingTheCall)
{
    speakTo127001();
    sendToWindow("|messhello|", QStringLiteral("127.0.0.3"));
    ASSERT_TRUE(processEventsUntil([this] { return messages->isVisible(); }));
    EXPECT_TRUE(messages->conversationPane->toPlainText().endsWith(QStringLiteral("): hello")));
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(addressEdit->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(missedRows(), 0);
}

TEST_F(ReceiveDispatchTest, TextBytesAreWindows1252)
{
    sendToWindow("|mess\x80 caf\xE9|", QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([this] { return messages->isVisible(); }));
    EXPECT_TRUE(messages->conversationPane->toPlainText().endsWith(QString::fromUtf8("): \u20ac caf\u00e9")));
}

TEST_F(ReceiveDispatchTest, AnsweringARingWithSpeakEndsTheAlertButNotTheCall)
{
    ringAlert->timeoutTimer->setInterval(50);
    sendToWindow("ring", QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(processEventsUntil([this] { return ringAlert->isVisible(); }));
    speakButton->click();
    EXPECT_FALSE(ringAlert->isVisible());
    EXPECT_FALSE(ringAlert->timeoutTimer->isActive());
    processEventsFor(200);
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(missedRows(), 0);
    EXPECT_FALSE(missedCalls->isVisible());

    // A stranger is still a stranger: its STOP does not end the call, its voice is not played.
    sendToWindow("stop", QStringLiteral("127.0.0.3"));
    sendToWindow(QByteArray(390, '\x33'), QStringLiteral("127.0.0.3"));
    ASSERT_TRUE(processEventsUntil([this] { return missedRows() == 1; }));
    processEventsFor(100);
    EXPECT_TRUE(speakButton->isChecked());
    EXPECT_TRUE(capture->Active());
    EXPECT_TRUE(boxes.messages.isEmpty());
    EXPECT_EQ(audio->count(Op::WaveOutWrite), 0);
}

TEST_F(ReceiveDispatchTest, TheAlertOfARingDuringACallNeverTakesThePeer)
{
    speakTo127001();
    ringAlert->timeoutTimer->setInterval(50);
    sendToWindow("ring", QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(processEventsUntil([this] { return ringAlert->isVisible(); }));
    ASSERT_TRUE(processEventsUntil([this] { return !ringAlert->isVisible(); }));
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1")) << "the timeout cleared the peer";
    EXPECT_EQ(missedRows(), 0) << "the peer of the call was listed as missed";
    EXPECT_FALSE(missedCalls->isVisible());

    sendToWindow("ring", QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(processEventsUntil([this] { return ringAlert->isVisible(); }));
    ringAlert->okButton->click();
    EXPECT_FALSE(ringAlert->isVisible());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1")) << "OK cleared the peer";
    EXPECT_TRUE(speakButton->isChecked());
}

TEST_F(ReceiveDispatchTest, AnsweringWithATextLineEndsTheAlertToo)
{
    sendToWindow("ring", QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(processEventsUntil([this] { return ringAlert->isVisible(); }));
    form->sendMessage(makeTextMessage("coming"));
    ASSERT_TRUE(nextDatagram().isValid());
    EXPECT_FALSE(ringAlert->isVisible());
    EXPECT_FALSE(ringAlert->timeoutTimer->isActive());
    EXPECT_EQ(form->currentPeer(), QStringLiteral("127.0.0.1"));
}

// A received text is one line of plain text, however its bytes try to look.
struct ReceivedTextCase {
    const char* name;
    QByteArray datagram;
    QString shownText;  // what follows "): "
};

class ReceivedText : public ReceiveDispatchTest, public ::testing::WithParamInterface<ReceivedTextCase> {};

TEST_P(ReceivedText, IsShownAsOneLineOfAtMostTheLongestTextASenderMaySend)
{
    sendToWindow(GetParam().datagram, QStringLiteral("127.0.0.3"));
    ASSERT_TRUE(processEventsUntil([this] { return messages->isVisible(); }));
    const QTextDocument* pane = messages->conversationPane->document();
    EXPECT_EQ(pane->blockCount(), 1) << pane->toPlainText().toStdString();
    const QString text = pane->toPlainText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("127.0.0.3 (")));
    const qsizetype colon = text.indexOf(QStringLiteral("): "));
    ASSERT_GT(colon, 0);
    EXPECT_EQ(text.mid(colon + 3), GetParam().shownText);
    for (const QChar ch : text)
        EXPECT_FALSE(ch.category() == QChar::Other_Control || ch == QChar::LineSeparator ||
                     ch == QChar::ParagraphSeparator)
            << "control character " << int(ch.unicode());
}

INSTANTIATE_TEST_SUITE_P(
    Stranger, ReceivedText,
    ::testing::Values(
        ReceivedTextCase{"AForgedSecondLine", "|messhello\r\nYou (12:00:00): I agree|",
                         QString::fromUtf8("hello\u240D\u240AYou (12:00:00): I agree")},
        ReceivedTextCase{"ATabIsABlank", "|messa\tb|", QStringLiteral("a b")},
        ReceivedTextCase{"EveryOtherControlIsMarked", QByteArray("|mess\x01\x1B[2J\x7F" "end|"),
                         QString::fromUtf8("\u2401\u241B[2J\u2421end")},
        ReceivedTextCase{"TheLongestTextIsWhole", "|mess" + QByteArray(200, 'x') + "|", QString(200, u'x')},
        ReceivedTextCase{"ALongerTextIsCutWithAMark", "|mess" + QByteArray(380, 'y') + "|",
                         QString(200, u'y') + QString::fromUtf8("\u2026")}),
    [](const ::testing::TestParamInfo<ReceivedTextCase>& info) { return std::string(info.param.name); });

// Lines and rings arrive while the user works in another application: the
// windows come up asking the window system not to activate them. (The
// offscreen platform activates every window it shows; the whole-program test
// checks a real desktop.)
TEST_F(ReceiveDispatchTest, ALineOrARingNeverTakesTheKeyboardFromAnotherApplication)
{
    ASSERT_TRUE(processEventsUntil([] { return QApplication::activeWindow() == nullptr; }));
    sendToWindow("|messhello|", QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([this] { return messages->isVisible(); }));
    EXPECT_TRUE(form->isVisible()) << "the program comes up";
    EXPECT_TRUE(messages->testAttribute(Qt::WA_ShowWithoutActivating)) << "the line took the keyboard";
    EXPECT_TRUE(form->testAttribute(Qt::WA_ShowWithoutActivating)) << "the main window took the keyboard";

    messages->hide();
    form->hide();
    ASSERT_TRUE(processEventsUntil([] { return QApplication::activeWindow() == nullptr; }));
    sendToWindow("ring", QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([this] { return ringAlert->isVisible(); }));
    EXPECT_TRUE(ringAlert->testAttribute(Qt::WA_ShowWithoutActivating)) << "the ring took the keyboard";
}

TEST_F(ReceiveDispatchTest, ALineWhileTheUserWorksInTheProgramGoesToItsInput)
{
    form->show();
    form->activateWindow();
    ASSERT_TRUE(processEventsUntil([this] { return QApplication::activeWindow() == form.get(); }));
    sendToWindow("|messhello|", QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(processEventsUntil([this] { return messages->inputEdit->hasFocus(); }));
    EXPECT_EQ(QApplication::activeWindow(), messages.get());
    EXPECT_FALSE(messages->testAttribute(Qt::WA_ShowWithoutActivating));
}

} // namespace
} // namespace kavelo::test
