#include "FakeMessagesLink.h"

#include "platform/CodePage.h"
#include "support/TestSupport.h"
#include "windows/ColorGrid.h"
#include "windows/TimeStamp.h"
#include "windows/MessagesWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QDialog>
#include <QLabel>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace kavelo {
namespace {

QByteArrayView bytesOf(const DatagramBuffer& datagram)
{
    return QByteArrayView(datagram.data(), static_cast<qsizetype>(datagram.size()));
}

// The format of the text in a block of the pane (every line is written in one).
QTextCharFormat formatOfLine(const QTextEdit& pane, int line)
{
    const QTextBlock block = pane.document()->findBlockByNumber(line);
    const QTextBlock::iterator fragment = block.begin();
    EXPECT_FALSE(fragment.atEnd()) << "line " << line << " has no text";
    return fragment.atEnd() ? QTextCharFormat() : fragment.fragment().charFormat();
}

void expectWrittenIn(const QTextCharFormat& format, const ChatFont& font)
{
    EXPECT_EQ(format.font().family(), font.name);
    EXPECT_EQ(format.font().pointSize(), font.size);
    EXPECT_EQ(format.font().bold(), (font.style & kStyleBold) != 0);
    EXPECT_EQ(format.font().italic(), (font.style & kStyleItalic) != 0);
    EXPECT_EQ(format.font().underline(), (font.style & kStyleUnderline) != 0);
    EXPECT_EQ(format.font().strikeOut(), (font.style & kStyleStrikeOut) != 0);
    EXPECT_EQ(format.foreground().color(), colorFromValue(font.color));
}

class MessagesWindowTest : public ::testing::Test {
protected:
    MessagesWindowTest() { form.show(); }

    QStringList lines() const { return form.conversationPane->toPlainText().split(u'\n'); }

    void type(const QString& text) { QTest::keyClicks(form.inputEdit, text); }

    test::FakeMessagesLink link;
    MessagesWindow form{link};
};

TEST_F(MessagesWindowTest, LooksAsDesigned)
{
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Messages"));
    EXPECT_EQ(form.size(), QSize(483, 285));
    EXPECT_TRUE(form.conversationPane->isReadOnly());
    EXPECT_EQ(form.conversationPane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(form.inputEdit->maxLength(), 200);
    EXPECT_FALSE(form.sendButton->isEnabled());
    EXPECT_EQ(form.chatBackground(), kSystemWindowColor);
    const QStringList names = {form.conversationPane->accessibleName(), form.inputLabel->accessibleName(),
                               form.inputEdit->accessibleName(), form.sendButton->accessibleName(),
                               form.ownFontButton->accessibleName(), form.otherFontButton->accessibleName(),
                               form.backgroundGrid->accessibleName()};
    EXPECT_EQ(names, (QStringList{"Conversation", "Text", "Text", "Send", "Choose your font...",
                                  "Choose other's font...", "Background colour"}));
}

TEST_F(MessagesWindowTest, SendIsEnabledExactlyWhileTheLineHoldsText)
{
    type(QStringLiteral("hi"));
    EXPECT_TRUE(form.sendButton->isEnabled());
    QTest::keyClick(form.inputEdit, Qt::Key_Backspace);
    EXPECT_TRUE(form.sendButton->isEnabled());
    QTest::keyClick(form.inputEdit, Qt::Key_Backspace);
    EXPECT_FALSE(form.sendButton->isEnabled());
}

TEST_F(MessagesWindowTest, EnterOnAnEmptyLineDoesNothing)
{
    QTest::keyClick(form.inputEdit, Qt::Key_Return);
    QTest::keyClick(form.inputEdit, Qt::Key_Enter);
    EXPECT_EQ(link.attempts, 0);
    EXPECT_TRUE(form.conversationPane->document()->isEmpty());
}

TEST_F(MessagesWindowTest, SendBuildsTheDatagramEchoesTheLineAndEmptiesTheInput)
{
    type(QStringLiteral("hello there"));
    QTest::mouseClick(form.sendButton, Qt::LeftButton);

    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_TRUE(bytesOf(link.sent[0]).startsWith("|mess" "hello there" "|"));
    EXPECT_EQ(lines(), QStringList{QStringLiteral("You (%1): hello there")
                                       .arg(longTimeText(QTime::currentTime()))})
        << "the clock may just have ticked over";
    EXPECT_TRUE(form.inputEdit->text().isEmpty());
    EXPECT_FALSE(form.sendButton->isEnabled());
    expectWrittenIn(formatOfLine(*form.conversationPane, 0), link.own);
}

TEST_F(MessagesWindowTest, EnterSendsLikeTheButton)
{
    type(QStringLiteral("ok"));
    QTest::keyClick(form.inputEdit, Qt::Key_Return);
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_TRUE(bytesOf(link.sent[0]).startsWith("|messok|"));
    EXPECT_TRUE(form.inputEdit->text().isEmpty());
}

TEST_F(MessagesWindowTest, LongestTextClosesTheDatagramAtByte205)
{
    form.inputEdit->setText(QString(250, u'x'));
    EXPECT_EQ(form.inputEdit->text().size(), 200);
    form.onSend();
    ASSERT_EQ(link.sent.size(), 1u);
    const QByteArrayView bytes = bytesOf(link.sent[0]);
    EXPECT_EQ(bytes.sliced(5, 200), QByteArray(200, 'x'));
    EXPECT_EQ(bytes[205], '|');
}

TEST_F(MessagesWindowTest, TextIsSentInWindows1252AndEchoedWhole)
{
    const QString text = QStringLiteral("caf\u00e9 | 5 \u20ac|");
    form.inputEdit->setText(text);
    form.onSend();
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_TRUE(bytesOf(link.sent[0]).startsWith("|mess" "caf\xe9 | 5 \x80|" "|"));
    EXPECT_TRUE(lines().constFirst().endsWith(QStringLiteral("): ") + text));
}

TEST_F(MessagesWindowTest, WithoutAnAddressTheLineIsStillEchoedAndTheInputEmptied)
{
    test::MessageBoxCatcher boxes;
    link.address.clear();
    type(QStringLiteral("anyone?"));
    QTest::mouseClick(form.sendButton, Qt::LeftButton);
    EXPECT_EQ(boxes.messages, QStringList{QStringLiteral("Enter a valid IP address!!!")});
    EXPECT_TRUE(link.sent.empty());
    EXPECT_TRUE(lines().constFirst().endsWith(QStringLiteral("): anyone?")));
    EXPECT_TRUE(form.inputEdit->text().isEmpty());
    EXPECT_FALSE(form.sendButton->isEnabled());
}

TEST_F(MessagesWindowTest, ASendThatFailsKeepsTheInputAndReportsTheError)
{
    test::ErrorBoxCatcher errors;
    link.failure = QStringLiteral("Network is unreachable");
    type(QStringLiteral("retry me"));
    QTest::keyClick(form.inputEdit, Qt::Key_Return);
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("Network is unreachable")});
    EXPECT_TRUE(lines().constFirst().endsWith(QStringLiteral("): retry me")));
    EXPECT_EQ(form.inputEdit->text(), QStringLiteral("retry me"));
    EXPECT_TRUE(form.sendButton->isEnabled());
}

TEST_F(MessagesWindowTest, ShowingAgainEmptiesUnsentInput)
{
    type(QStringLiteral("draft"));
    form.show();
    EXPECT_EQ(form.inputEdit->text(), QStringLiteral("draft")) << "shown while visible is no new showing";
    form.close();
    EXPECT_FALSE(form.isVisible());
    form.show();
    EXPECT_TRUE(form.inputEdit->text().isEmpty());
    EXPECT_FALSE(form.sendButton->isEnabled());
}

TEST_F(MessagesWindowTest, ClosingOnlyHidesAndThePaneKeepsItsText)
{
    form.ShowReceivedLine(QStringLiteral("Ann (14:05:09): hi"));
    form.close();
    form.show();
    EXPECT_EQ(lines(), QStringList{QStringLiteral("Ann (14:05:09): hi")});
}

TEST_F(MessagesWindowTest, EachLineStandsOnItsOwn)
{
    form.ShowReceivedLine(QStringLiteral("one"));
    form.ShowReceivedLine(QStringLiteral("two"));
    form.inputEdit->setText(QStringLiteral("three"));
    form.onSend();
    EXPECT_EQ(form.conversationPane->document()->blockCount(), 3);
    EXPECT_EQ(lines().mid(0, 2), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
}

TEST_F(MessagesWindowTest, ReceivedLineUsesTheOthersFontAndLeavesTheInputAlone)
{
    type(QStringLiteral("half a thou"));
    form.ShowReceivedLine(QStringLiteral("Ann (14:05:09): hi"));
    EXPECT_EQ(form.inputEdit->text(), QStringLiteral("half a thou"));
    EXPECT_TRUE(form.sendButton->isEnabled());
    EXPECT_EQ(lines(), QStringList{QStringLiteral("Ann (14:05:09): hi")});
    expectWrittenIn(formatOfLine(*form.conversationPane, 0), link.other);
}

TEST_F(MessagesWindowTest, ReceivedLineMakesTheWindowTopmostWhereItWas)
{
    form.hide();
    form.move(100, 80);
    form.resize(500, 300);
    form.ShowReceivedLine(QStringLiteral("first"));
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(form.size(), QSize(500, 300));
    EXPECT_EQ(form.pos(), QPoint(100, 80));

    form.close();
    form.show();
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint)) << "for the rest of the run";
}

TEST_F(MessagesWindowTest, ReceivedLineBringsAMinimisedWindowBack)
{
    type(QStringLiteral("typing"));
    form.showMinimized();
    form.ShowReceivedLine(QStringLiteral("wake up"));
    EXPECT_FALSE(form.isMinimized());
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.inputEdit->text(), QStringLiteral("typing"));
}

TEST_F(MessagesWindowTest, BecomingTopmostWhileOpenIsNoNewShowing)
{
    type(QStringLiteral("typing"));
    form.ShowReceivedLine(QStringLiteral("first"));
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(form.inputEdit->text(), QStringLiteral("typing"));
}

TEST_F(MessagesWindowTest, MarkupInAReceivedLineIsShownLiterally)
{
    const QString line = QStringLiteral(
        "Eve (1:00:00 AM): <b>x</b><img src=\"file:///etc/passwd\"> &amp; <a href=\"http://e\">l</a>");
    form.ShowReceivedLine(line);
    EXPECT_EQ(form.conversationPane->toPlainText(), line);
    const QString html = form.conversationPane->document()->toHtml();
    EXPECT_FALSE(html.contains(QStringLiteral("<img")));
    EXPECT_FALSE(html.contains(QStringLiteral("<a ")));
    EXPECT_TRUE(html.contains(QStringLiteral("&lt;img")));
}

TEST_F(MessagesWindowTest, AReceivedLineStaysOneLineWhateverItHolds)
{
    form.ShowReceivedLine(QStringLiteral("Eve (12:00:00): hello\r\nYou (12:00:00): I agree\x0B\x0C\t!"));
    EXPECT_EQ(form.conversationPane->document()->blockCount(), 1);
    EXPECT_EQ(lines(), QStringList{QString::fromUtf8("Eve (12:00:00): hello\u240D\u240AYou (12:00:00): I agree\u240B\u240C !")});
    form.ShowReceivedLine(QString::fromUtf8("a\u2028b\u2029c\u0085d"));
    EXPECT_EQ(form.conversationPane->document()->blockCount(), 2) << "Unicode line breaks are no breaks either";
}

TEST_F(MessagesWindowTest, AReceivedLineTakesTheKeyboardOnlyWhenTheProgramIsActive)
{
    // Another application is active: the window comes up but asks not to be activated.
    form.hide();
    ASSERT_TRUE(test::processEventsUntil([] { return QApplication::activeWindow() == nullptr; }));
    form.ShowReceivedLine(QStringLiteral("one"));
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.testAttribute(Qt::WA_ShowWithoutActivating));

    // The user works in the program: the line brings the input the keyboard.
    form.activateWindow();
    ASSERT_TRUE(test::processEventsUntil([this] { return QApplication::activeWindow() == &form; }));
    form.conversationPane->setFocus();
    form.ShowReceivedLine(QStringLiteral("two"));
    EXPECT_FALSE(form.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(QApplication::activeWindow(), &form);
}

TEST_F(MessagesWindowTest, InputIsYellowOnlyWhileFocused)
{
    QApplication::setActiveWindow(&form);
    form.inputEdit->setFocus();
    ASSERT_TRUE(test::processEventsUntil([&] { return form.inputEdit->hasFocus(); }, 2000));
    EXPECT_EQ(form.inputEdit->palette().color(QPalette::Base), QColor(255, 255, 0));
    form.backgroundGrid->setFocus();
    ASSERT_TRUE(test::processEventsUntil([&] { return !form.inputEdit->hasFocus(); }, 2000));
    EXPECT_EQ(form.inputEdit->palette().color(QPalette::Base), colorFromValue(kSystemWindowColor));
}

TEST_F(MessagesWindowTest, PickingACellColoursThePaneAtOnce)
{
    QTest::mouseClick(form.backgroundGrid, Qt::LeftButton, {}, form.backgroundGrid->cellRect(9).center());
    EXPECT_EQ(form.chatBackground(), 0x000000FFu);
    EXPECT_EQ(form.conversationPane->palette().color(QPalette::Base), QColor(255, 0, 0));

    form.conversationPane->setPalette(QPalette());  // a change the grid would repaint
    QTest::mouseClick(form.backgroundGrid, Qt::LeftButton, {}, form.backgroundGrid->cellRect(9).center());
    EXPECT_NE(form.conversationPane->palette().color(QPalette::Base), QColor(255, 0, 0))
        << "the picked cell raises no change";
}

TEST_F(MessagesWindowTest, NoPickedCellKeepsThePaneColour)
{
    form.setChatBackground(0x00123456);
    form.backgroundGrid->setPickedCell(-1);
    EXPECT_EQ(form.chatBackground(), 0x00123456u);
    EXPECT_EQ(form.conversationPane->palette().color(QPalette::Base), QColor(0x56, 0x34, 0x12));
}

class MessagesFontTest : public MessagesWindowTest {};

TEST_F(MessagesFontTest, DialogStartsFromTheRecordAndCancelChangesNothing)
{
    link.own = {QStringLiteral("DejaVu Sans Mono"), 13, kStyleUnderline, 0, 0x00008000, 0};
    const ChatFont before = link.own;
    QFont shown;
    QColor shownColor;
    form.ownFontDialog.setRunner([&](FontDialog& dialog) {
        shown = dialog.Font;
        shownColor = dialog.Color;
        dialog.Font = QFont(QStringLiteral("Serif"), 30);
        dialog.Color = Qt::red;
        return false;
    });
    QTest::mouseClick(form.ownFontButton, Qt::LeftButton);
    EXPECT_EQ(shown.family(), QStringLiteral("DejaVu Sans Mono"));
    EXPECT_EQ(shown.pointSize(), 13);
    EXPECT_TRUE(shown.underline());
    EXPECT_EQ(shownColor, QColor(0, 128, 0));
    EXPECT_EQ(link.own, before);
}

TEST_F(MessagesFontTest, OkStoresTheChoiceWithTheNameCut)
{
    form.otherFontDialog.setRunner([](FontDialog& dialog) {
        QFont font;
        font.setFamilies({QStringLiteral("Extremely Verbose Display Face Name Regular")});
        font.setPointSize(16);
        font.setStrikeOut(true);
        dialog.Font = font;
        dialog.Color = QColor(0, 0, 255);
        return true;
    });
    QTest::mouseClick(form.otherFontButton, Qt::LeftButton);
    EXPECT_EQ(link.other.name, QStringLiteral("Extremely Verbose Display Face N"));
    EXPECT_EQ(link.other.size, 16);
    EXPECT_EQ(link.other.style, kStyleStrikeOut);
    EXPECT_EQ(link.other.color, 0x00FF0000u);
}

TEST_F(MessagesFontTest, ANewFontAppliesToLaterLinesOnly)
{
    form.ShowReceivedLine(QStringLiteral("before"));
    const ChatFont old = link.other;
    form.otherFontDialog.setRunner([](FontDialog& dialog) {
        dialog.Font = QFont(QStringLiteral("DejaVu Sans Mono"), 20);
        dialog.Color = QColor(128, 0, 128);
        return true;
    });
    form.onChooseOtherFont();
    form.ShowReceivedLine(QStringLiteral("after"));
    expectWrittenIn(formatOfLine(*form.conversationPane, 0), old);
    expectWrittenIn(formatOfLine(*form.conversationPane, 1), link.other);
    EXPECT_EQ(link.other.name, QStringLiteral("DejaVu Sans Mono"));
}

// Answers the modal chooser as soon as it is up.
class ChooserAnswer {
public:
    explicit ChooserAnswer(bool accept)
    {
        poll_.setInterval(20);
        QObject::connect(&poll_, &QTimer::timeout, [this, accept] {
            auto* chooser = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (chooser == nullptr)
                return;
            answered = true;
            accept ? chooser->accept() : chooser->reject();
        });
        poll_.start();
    }
    bool answered = false;

private:
    QTimer poll_;
};

TEST_F(MessagesFontTest, TheRealChooserCancelsWithoutChange)
{
    FontDialog dialog;
    dialog.Font = QFont(QStringLiteral("DejaVu Serif"), 15);
    dialog.Color = QColor(0, 0, 128);
    ChooserAnswer answer(false);
    EXPECT_FALSE(dialog.Execute(&form));
    EXPECT_TRUE(answer.answered);
    EXPECT_EQ(dialog.Font.pointSize(), 15);
    EXPECT_EQ(dialog.Color, QColor(0, 0, 128));
}

TEST_F(MessagesFontTest, TheRealChooserGivesBackWhatItWasShownOnOk)
{
    const quint8 styles[] = {0, kStyleBold, kStyleItalic, kStyleBold | kStyleItalic,
                             kStyleUnderline | kStyleStrikeOut};
    for (const quint8 style : styles) {
        const ChatFont record{QStringLiteral("DejaVu Sans"), 15, style, 0, 0x00800000, 0};
        FontDialog dialog;
        dialog.Font = toQFont(record);
        dialog.Color = colorFromValue(record.color);
        ChooserAnswer answer(true);
        EXPECT_TRUE(dialog.Execute(&form));
        EXPECT_TRUE(answer.answered);
        ChatFont back = record;
        assignFont(back, dialog.Font, dialog.Color);
        EXPECT_EQ(back, record) << "style " << int(style);
    }
}

TEST_F(MessagesFontTest, TheRealChooserKeepsAColourOutsideItsList)
{
    FontDialog dialog;
    dialog.Font = QFont(QStringLiteral("DejaVu Sans"), 9);
    dialog.Color = QColor(0x12, 0x34, 0x56);
    ChooserAnswer answer(true);
    EXPECT_TRUE(dialog.Execute(&form));
    EXPECT_EQ(dialog.Color, QColor(0x12, 0x34, 0x56));
}

} // namespace
} // namespace kavelo
