#include "MainWindowFixture.h"

#include "store/CallOptionsFile.h"
#include "store/ChatSettingsFile.h"
#include "app/ProgramFolder.h"
#include "store/AutostartStore.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "support/FileSizeLimit.h"
#include "windows/ColorGrid.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTemporaryDir>
#include <QTextEdit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <QTreeWidget>

namespace kavelo::test {
namespace {

class ChatSettingsWindowTest : public MainWindowTest {
protected:
    QString appTxt() const { return form->programFolder() + QStringLiteral("app.txt"); }

    void writeAppTxt(const QByteArray& bytes)
    {
        QFile file(appTxt());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray readAppTxt() const
    {
        QFile file(appTxt());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(ChatSettingsWindowTest, FirstShowWithoutAppTxtTakesTheDefaults)
{
    createForm();
    missedCalls->AddMissedCall(QStringLiteral("old"));
    form->show();
    EXPECT_EQ(form->ownChatFont().size, 8);
    EXPECT_EQ(form->ownChatFont().color, 0u);
    EXPECT_EQ(form->ownChatFont().name, messages->conversationPane->font().family());
    EXPECT_EQ(form->otherChatFont(), form->ownChatFont());
    EXPECT_EQ(messages->chatBackground(), kSystemWindowColor);
    EXPECT_EQ(missedCalls->missedCallsView->topLevelItemCount(), 0) << "the list is emptied at the first show";
}

TEST_F(ChatSettingsWindowTest, FirstShowReadsBothRecordsAndPicksTheMatchingCell)
{
    createForm();
    const ChatFont own{QStringLiteral("Serif"), 14, kStyleItalic, 0, 0x000000FF, 0};
    const ChatFont other{QStringLiteral("Mono"), 10, kStyleBold, 0, 0x00FF0000, 0};
    writeAppTxt(chatFontRecord(own, 0x0000FFFF) + chatFontRecord(other, 0x00FFFFFF));
    form->show();
    EXPECT_EQ(form->ownChatFont().name, QStringLiteral("Serif"));
    EXPECT_EQ(form->ownChatFont().size, 14);
    EXPECT_EQ(form->otherChatFont().name, QStringLiteral("Mono"));
    EXPECT_EQ(form->otherChatFont().style, kStyleBold);
    EXPECT_EQ(messages->chatBackground(), 0x0000FFFFu) << "only the first record's background counts";
    EXPECT_EQ(messages->backgroundGrid->pickedCell(), 11) << "yellow";
}

TEST_F(ChatSettingsWindowTest, AShortAppTxtIsReportedAndLeavesEmptyRecords)
{
    createForm();
    writeAppTxt(QByteArray(60, '\x01'));
    form->show();
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("Read beyond end of file")});
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->ownChatFont(), ChatFont{});
    EXPECT_EQ(form->otherChatFont(), ChatFont{});
}

TEST_F(ChatSettingsWindowTest, ClosingWritesAppTxtAndTheAutostartValue)
{
    createForm();
    form->show();
    autostartCheck->setChecked(true);
    EXPECT_TRUE(form->close());
    EXPECT_EQ(readAppTxt().size(), 104);
    EXPECT_EQ(AutostartStore::read(QStringLiteral("Kavelo")), autostartCommand(form->programFolder()));
    EXPECT_EQ(chatFontFromRecord(readAppTxt().mid(52)).background, kSystemWindowColor);

    autostartCheck->setChecked(false);
    EXPECT_TRUE(form->onClose());
    EXPECT_TRUE(form->onClose()) << "deleting a deleted value is harmless";
    EXPECT_TRUE(AutostartStore::read(QStringLiteral("Kavelo")).isEmpty());
}

TEST_F(ChatSettingsWindowTest, AnUnwritableAppTxtKeepsTheWindowOpen)
{
    createForm();
    form->show();
    ASSERT_TRUE(QDir(form->programFolder()).mkdir(QStringLiteral("app.txt")));  // a folder in its way
    EXPECT_FALSE(form->close());
    ASSERT_EQ(errors.messages.size(), 1);
    EXPECT_TRUE(errors.messages[0].contains(QStringLiteral("app.txt")));
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->close()) << "every further close repeats the steps";
    EXPECT_EQ(errors.messages.size(), 2);
}

TEST_F(ChatSettingsWindowTest, AWriteThatFailsHalfWayAtCloseKeepsTheOldFileAndTheWindow)
{
    const QByteArray stored = chatFontRecord(ChatFont{QStringLiteral("Keep"), 9, 0, 0, 0, 0}, 0).repeated(2);
    createForm();
    writeAppTxt(stored);
    form->show();
    messages->setChatBackground(0x00FFFFFF);
    {
        const test::FileSizeLimit limit(60);  // the second record breaks off
        EXPECT_FALSE(form->close());
    }
    ASSERT_EQ(errors.messages.size(), 1);
    EXPECT_TRUE(errors.messages[0].startsWith(QStringLiteral("Cannot write ") + appTxt())) << errors.messages[0].toStdString();
    EXPECT_TRUE(errors.messages[0].contains(QString::fromLocal8Bit(strerror(EFBIG)))) << errors.messages[0].toStdString();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(readAppTxt(), stored) << "the old settings are whole";
    EXPECT_EQ(QDir(form->programFolder()).entryList({QStringLiteral("app.txt*")}, QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("app.txt")});

    EXPECT_TRUE(form->close());
    EXPECT_EQ(readAppTxt(), chatFontRecord(form->ownChatFont(), 0x00FFFFFF) + chatFontRecord(form->otherChatFont(), 0x00FFFFFF));
}

TEST_F(ChatSettingsWindowTest, AMinimisedStartClosedBeforeShowingKeepsTheStoredSettings)
{
    const QByteArray stored = chatFontRecord(ChatFont{QStringLiteral("Keep"), 9, 0, 0, 0, 0}, 0).repeated(2);
    QFile file(QDir::currentPath() + QStringLiteral("/app.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(stored);
    file.close();
    createForm({QStringLiteral("m")});
    EXPECT_TRUE(form->isMinimized() || !form->isVisible());
    EXPECT_TRUE(form->close());
    EXPECT_EQ(readAppTxt(), stored);
}

TEST_F(ChatSettingsWindowTest, TheTrayMenuOpensOnLeftAndRightPressesOnly)
{
    createForm();
    tray->onTrayIconMessage(TrayPresence::kTrayCallbackMessage, 1, 0x202);
    EXPECT_FALSE(trayMenu->isVisible());
    tray->onTrayIconMessage(TrayPresence::kTrayCallbackMessage, 1, TrayPresence::kRightButtonDown);
    EXPECT_TRUE(trayMenu->isVisible());
    trayMenu->hide();
    tray->onTrayIconMessage(TrayPresence::kTrayCallbackMessage, 1, TrayPresence::kLeftButtonDown);
    EXPECT_TRUE(trayMenu->isVisible());
    trayMenu->hide();
    EXPECT_EQ(restoreAction->text(), QStringLiteral("Restore"));
    EXPECT_EQ(exitAction->text(), QStringLiteral("Exit"));

    restoreAction->trigger();
    EXPECT_TRUE(form->isVisible());
    exitAction->trigger();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ChatSettingsWindowTest, ClickingAuthorShowsTheCredits)
{
    createForm();
    form->show();
    QTest::mouseClick(authorLabel, Qt::LeftButton);
    ASSERT_EQ(boxes.messages.size(), 1);
    EXPECT_TRUE(boxes.messages[0].startsWith(QStringLiteral("Kavelo")));
}

// The echo canceller's switch: on for a new user (loudspeakers), switched at
// once, kept in kavelo.ini across runs.
TEST_F(ChatSettingsWindowTest, EchoCancellationIsOnAtFirstAndASwitchIsFollowedAtOnceAndKept)
{
    createForm();
    QCheckBox* echo = control<QCheckBox>(*form, QStringLiteral("Echo cancellation"));
    ASSERT_NE(echo, nullptr);
    EXPECT_TRUE(echo->isChecked());
    EXPECT_TRUE(audio->echoCancellation);
    echo->click();
    EXPECT_FALSE(audio->echoCancellation) << "taken away from the microphone at once";
    EXPECT_TRUE(form->onClose());
    const QString ini = form->programFolder() + QStringLiteral("kavelo.ini");
    EXPECT_EQ(readCallOptions(ini).echoCancellation, false);

    audio->echoCancellation = true;
    messages.reset();
    ringAlert.reset();
    missedCalls.reset();
    contactList.reset();
    form.reset();
    const MainWindow next;
    echo = control<QCheckBox>(next, QStringLiteral("Echo cancellation"));
    ASSERT_NE(echo, nullptr);
    EXPECT_FALSE(echo->isChecked());
    EXPECT_FALSE(audio->echoCancellation) << "the next run starts as the last one ended";
}

TEST_F(ChatSettingsWindowTest, AnUnchangedEchoSwitchWritesNoFile)
{
    createForm();
    EXPECT_TRUE(form->onClose());
    EXPECT_FALSE(QFileInfo::exists(form->programFolder() + QStringLiteral("kavelo.ini")));
}

} // namespace
} // namespace kavelo::test
