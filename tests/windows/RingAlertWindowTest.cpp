#include "FakeMainWindow.h"
#include "support/TestSupport.h"
#include "windows/TimeStamp.h"
#include "windows/MissedCallsWindow.h"
#include "windows/RingAlertWindow.h"

#include <QAccessible>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace kavelo {
namespace {

using test::processEventsUntil;

QStringList rowNames(const MissedCallsWindow& missed)
{
    QStringList names;
    for (int i = 0; i < missed.missedCallsView->topLevelItemCount(); ++i)
        names.append(missed.missedCallsView->topLevelItem(i)->text(0));
    return names;
}

TEST(MissedCalls, LooksAsDesigned)
{
    MissedCallsWindow missed;
    EXPECT_EQ(missed.windowTitle(), "Missed calls");
    EXPECT_EQ(missed.size(), QSize(326, 198));
    EXPECT_EQ(missed.missedCallsView->headerItem()->text(0), "Name (IP addr.)");
    EXPECT_EQ(missed.missedCallsView->headerItem()->text(1), "Timestamp");
    EXPECT_EQ(missed.missedCallsView->columnWidth(0), 100);
    EXPECT_EQ(missed.missedCallsView->columnWidth(1), 200);
}

TEST(MissedCalls, ACallerIsListedOnceWithTheTimeOfTheFirstCall)
{
    MissedCallsWindow missed;
    const QDateTime before = QDateTime::currentDateTime();
    EXPECT_TRUE(missed.AddMissedCall("Ann"));
    const QDateTime after = QDateTime::currentDateTime();
    const QString stamp = missed.missedCallsView->topLevelItem(0)->text(1);
    EXPECT_TRUE(stamp == dateTimeText(before) || stamp == dateTimeText(after)) << stamp.toStdString();

    EXPECT_TRUE(missed.AddMissedCall("10.0.0.8"));
    EXPECT_FALSE(missed.AddMissedCall("ANN"));
    EXPECT_FALSE(missed.AddMissedCall("Ann"));
    EXPECT_EQ(rowNames(missed), (QStringList{"Ann", "10.0.0.8"}));
    EXPECT_EQ(missed.missedCallsView->topLevelItem(0)->text(1), stamp);
    EXPECT_TRUE(missed.AddMissedCall("Ann ")) << "the whole name is compared";
}

TEST(MissedCalls, ARenamedRowIsFoundUnderItsNewName)
{
    MissedCallsWindow missed;
    missed.AddMissedCall("10.0.0.8");
    missed.missedCallsView->topLevelItem(0)->setText(0, "Carol");  // as the in-place editor leaves it
    EXPECT_FALSE(missed.AddMissedCall("carol"));
    EXPECT_TRUE(missed.AddMissedCall("10.0.0.8"));
}

TEST(MissedCalls, ClosingHidesAndKeepsTheRowsOnlyClearEmpties)
{
    MissedCallsWindow missed;
    missed.AddMissedCall("Ann");
    missed.show();
    EXPECT_TRUE(missed.close());
    EXPECT_FALSE(missed.isVisible());
    missed.show();
    EXPECT_EQ(rowNames(missed), QStringList{"Ann"});
    missed.Clear();
    EXPECT_EQ(missed.missedCallsView->topLevelItemCount(), 0);
}

class RingAlert : public ::testing::Test {
protected:
    test::FakeMainWindow main{QString()};
    MissedCallsWindow missed;
    RingAlertWindow alert{main, missed};
};

TEST_F(RingAlert, LooksAsDesignedAndWaitsAHundredSeconds)
{
    EXPECT_EQ(alert.windowTitle(), "RING");
    EXPECT_EQ(alert.size(), QSize(302, 115));
    EXPECT_EQ(alert.headingLabel->text(), "Recieving RING signal from ");
    EXPECT_TRUE(alert.headingLabel->font().bold());
    EXPECT_TRUE(alert.callerLabel->font().bold());
    EXPECT_GT(alert.callerLabel->font().pixelSize(), alert.headingLabel->font().pixelSize());
    EXPECT_EQ(alert.callerLabel->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(alert.okButton->text(), "OK");
    EXPECT_EQ(alert.timeoutTimer->interval(), 100000);
    EXPECT_FALSE(alert.timeoutTimer->isActive());
    EXPECT_EQ(alert.windowType(), Qt::Tool);
}

// The messages window stays on top once a line has come; a ring that comes
// later must not open underneath it.
TEST_F(RingAlert, ShowRingShowsTheCallerStartsTheTimerAndStaysAboveKavelosOtherWindows)
{
    alert.ShowRing("Ann");
    EXPECT_TRUE(alert.isVisible());
    EXPECT_EQ(alert.callerLabel->text(), "Ann");
    EXPECT_TRUE(alert.timeoutTimer->isActive());
    EXPECT_TRUE(alert.windowFlags() & Qt::WindowStaysOnTopHint);
    // Assistive technology is told it is an alert.
    const QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&alert);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::AlertMessage);
    EXPECT_EQ(accessible->text(QAccessible::Name), "RING");
}

TEST_F(RingAlert, ASecondRingRenamesTheCallerButDoesNotRestartThePeriod)
{
    alert.ShowRing("Ann");
    const int period = alert.timeoutTimer->timerId();
    alert.ShowRing("Bob");
    EXPECT_EQ(alert.timeoutTimer->timerId(), period) << "a restarted timer gets a new id";
    EXPECT_EQ(alert.callerLabel->text(), "Bob");
}

TEST_F(RingAlert, DismissingStopsTheTimerClearsThePeerAndAddsNoRow)
{
    alert.ShowRing("Ann");
    alert.okButton->click();
    EXPECT_FALSE(alert.isVisible());
    EXPECT_FALSE(alert.timeoutTimer->isActive());
    EXPECT_EQ(main.peerClears, 1);
    EXPECT_EQ(main.ringStops, 1) << "the ring sounds on after its alert is gone";

    alert.ShowRing("Ann");
    EXPECT_TRUE(alert.close());  // the frame's close box
    EXPECT_FALSE(alert.timeoutTimer->isActive());
    EXPECT_EQ(main.peerClears, 2);
    EXPECT_EQ(main.ringStops, 2);
    EXPECT_EQ(missed.missedCallsView->topLevelItemCount(), 0);
    EXPECT_FALSE(missed.isVisible());
}

TEST_F(RingAlert, TimeoutEntersTheLatestCallerClosesAndShowsTheMissedCalls)
{
    alert.timeoutTimer->setInterval(20);
    alert.ShowRing("Ann");
    alert.ShowRing("Bob");
    ASSERT_TRUE(processEventsUntil([&] { return !alert.isVisible(); }));
    EXPECT_EQ(rowNames(missed), QStringList{"Bob"});
    EXPECT_TRUE(missed.isVisible());
    EXPECT_EQ(main.restores, 1);
    EXPECT_EQ(main.peerClears, 1);
    EXPECT_EQ(main.ringStops, 1);
    EXPECT_FALSE(alert.timeoutTimer->isActive()) << "one timeout per showing";
}

TEST_F(RingAlert, TimeoutForAListedCallerAddsNothingButStillShowsTheList)
{
    missed.AddMissedCall("ann");
    const QString stamp = missed.missedCallsView->topLevelItem(0)->text(1);
    alert.timeoutTimer->setInterval(20);
    alert.ShowRing("Ann");
    ASSERT_TRUE(processEventsUntil([&] { return missed.isVisible(); }));
    EXPECT_EQ(rowNames(missed), QStringList{"ann"});
    EXPECT_EQ(missed.missedCallsView->topLevelItem(0)->text(1), stamp);
    EXPECT_FALSE(alert.isVisible());
}

TEST_F(RingAlert, MarkupInTheCallersNameIsShownLiterally)
{
    const QString name = QStringLiteral("<b>x</b><img src=\"file:///etc/passwd\">");
    alert.timeoutTimer->setInterval(20);
    alert.ShowRing(name);
    EXPECT_EQ(alert.callerLabel->textFormat(), Qt::PlainText);
    EXPECT_EQ(alert.callerLabel->text(), name);
    // Rendered as markup the text would shrink to "x" plus an image.
    EXPECT_GT(alert.callerLabel->sizeHint().width(), alert.callerLabel->fontMetrics().horizontalAdvance("<b>x</b><img"));
    ASSERT_TRUE(processEventsUntil([&] { return missed.isVisible(); }));
    EXPECT_EQ(rowNames(missed), QStringList{name});
}

// A main window that may be in a conversation.
class ConversingMainWindow : public test::FakeMainWindow {
public:
    using FakeMainWindow::FakeMainWindow;
    bool conversationInProgress() const override { return inConversation; }
    bool inConversation = false;
};

class RingAlertAndCall : public ::testing::Test {
protected:
    ConversingMainWindow main{QString()};
    MissedCallsWindow missed;
    RingAlertWindow alert{main, missed};
};

TEST_F(RingAlertAndCall, AnsweringEndsTheAlertAndItsPeriodButLeavesThePeer)
{
    alert.ShowRing("Ann");
    main.inConversation = true;
    alert.callAnswered();
    EXPECT_FALSE(alert.isVisible());
    EXPECT_FALSE(alert.timeoutTimer->isActive());
    EXPECT_EQ(main.peerClears, 0);
    EXPECT_EQ(main.ringStops, 1);
    EXPECT_EQ(missed.missedCallsView->topLevelItemCount(), 0);
}

TEST_F(RingAlertAndCall, DuringAConversationNeitherTheTimeoutNorOkTakeThePeer)
{
    main.inConversation = true;
    alert.timeoutTimer->setInterval(20);
    alert.ShowRing("Ann");
    ASSERT_TRUE(processEventsUntil([&] { return !alert.isVisible(); }));
    EXPECT_EQ(missed.missedCallsView->topLevelItemCount(), 0);
    EXPECT_FALSE(missed.isVisible());
    EXPECT_EQ(main.peerClears, 0);

    alert.ShowRing("Ann");
    alert.okButton->click();
    EXPECT_EQ(main.peerClears, 0);
    main.inConversation = false;
    alert.ShowRing("Ann");
    alert.okButton->click();
    EXPECT_EQ(main.peerClears, 1) << "without a conversation OK still clears the peer";
}

} // namespace
} // namespace kavelo
