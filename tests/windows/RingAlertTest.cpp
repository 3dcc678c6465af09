#include "FakeMainWindow.h"
#include "support/TestSupport.h"
#include "windows/TimeStamp.h"
#include "windows/Unit3.h"
#include "windows/Unit4.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace kavelo {
namespace {

using test::processEventsUntil;

QStringList rowNames(const TForm3& missed)
{
    QStringList names;
    for (int i = 0; i < missed.ListView1->topLevelItemCount(); ++i)
        names.append(missed.ListView1->topLevelItem(i)->text(0));
    return names;
}

TEST(MissedCalls, LooksAsDesigned)
{
    TForm3 missed;
    EXPECT_EQ(missed.windowTitle(), "Missed calls");
    EXPECT_EQ(missed.size(), QSize(326, 198));
    EXPECT_EQ(missed.ListView1->headerItem()->text(0), "Name (IP addr.)");
    EXPECT_EQ(missed.ListView1->headerItem()->text(1), "Timestamp");
    EXPECT_EQ(missed.ListView1->columnWidth(0), 100);
    EXPECT_EQ(missed.ListView1->columnWidth(1), 200);
}

TEST(MissedCalls, ACallerIsListedOnceWithTheTimeOfTheFirstCall)
{
    TForm3 missed;
    const QDateTime before = QDateTime::currentDateTime();
    EXPECT_TRUE(missed.AddMissedCall("Ann"));
    const QDateTime after = QDateTime::currentDateTime();
    const QString stamp = missed.ListView1->topLevelItem(0)->text(1);
    EXPECT_TRUE(stamp == dateTimeText(before) || stamp == dateTimeText(after)) << stamp.toStdString();

    EXPECT_TRUE(missed.AddMissedCall("10.0.0.8"));
    EXPECT_FALSE(missed.AddMissedCall("ANN"));
    EXPECT_FALSE(missed.AddMissedCall("Ann"));
    EXPECT_EQ(rowNames(missed), (QStringList{"Ann", "10.0.0.8"}));
    EXPECT_EQ(missed.ListView1->topLevelItem(0)->text(1), stamp);
    EXPECT_TRUE(missed.AddMissedCall("Ann ")) << "the whole name is compared";
}

TEST(MissedCalls, ARenamedRowIsFoundUnderItsNewName)
{
    TForm3 missed;
    missed.AddMissedCall("10.0.0.8");
    missed.ListView1->topLevelItem(0)->setText(0, "Carol");  // as the in-place editor leaves it
    EXPECT_FALSE(missed.AddMissedCall("carol"));
    EXPECT_TRUE(missed.AddMissedCall("10.0.0.8"));
}

TEST(MissedCalls, ClosingHidesAndKeepsTheRowsOnlyClearEmpties)
{
    TForm3 missed;
    missed.AddMissedCall("Ann");
    missed.show();
    EXPECT_TRUE(missed.close());
    EXPECT_FALSE(missed.isVisible());
    missed.show();
    EXPECT_EQ(rowNames(missed), QStringList{"Ann"});
    missed.Clear();
    EXPECT_EQ(missed.ListView1->topLevelItemCount(), 0);
}

class RingAlert : public ::testing::Test {
protected:
    test::FakeMainWindow main{QString()};
    TForm3 missed;
    TForm4 alert{main, missed};
};

TEST_F(RingAlert, LooksAsDesignedAndWaitsAHundredSeconds)
{
    EXPECT_EQ(alert.windowTitle(), "RING");
    EXPECT_EQ(alert.size(), QSize(302, 115));
    EXPECT_EQ(alert.Label1->text(), "Recieving RING signal from ");
    EXPECT_TRUE(alert.Label1->font().bold());
    EXPECT_TRUE(alert.Label2->font().bold());
    EXPECT_GT(alert.Label2->font().pixelSize(), alert.Label1->font().pixelSize());
    EXPECT_EQ(alert.Label2->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(alert.Button1->text(), "OK");
    EXPECT_EQ(alert.Timer1->interval(), 100000);
    EXPECT_FALSE(alert.Timer1->isActive());
    EXPECT_EQ(alert.windowType(), Qt::Tool);
}

TEST_F(RingAlert, ShowRingShowsTheCallerAndStartsTheTimerNotTopmost)
{
    alert.ShowRing("Ann");
    EXPECT_TRUE(alert.isVisible());
    EXPECT_EQ(alert.Label2->text(), "Ann");
    EXPECT_TRUE(alert.Timer1->isActive());
    EXPECT_FALSE(alert.windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(RingAlert, ASecondRingRenamesTheCallerButDoesNotRestartThePeriod)
{
    alert.ShowRing("Ann");
    const int period = alert.Timer1->timerId();
    alert.ShowRing("Bob");
    EXPECT_EQ(alert.Timer1->timerId(), period) << "a restarted timer gets a new id";
    EXPECT_EQ(alert.Label2->text(), "Bob");
}

TEST_F(RingAlert, DismissingStopsTheTimerClearsThePeerAndAddsNoRow)
{
    alert.ShowRing("Ann");
    alert.Button1->click();
    EXPECT_FALSE(alert.isVisible());
    EXPECT_FALSE(alert.Timer1->isActive());
    EXPECT_EQ(main.peerClears, 1);

    alert.ShowRing("Ann");
    EXPECT_TRUE(alert.close());  // the frame's close box
    EXPECT_FALSE(alert.Timer1->isActive());
    EXPECT_EQ(main.peerClears, 2);
    EXPECT_EQ(missed.ListView1->topLevelItemCount(), 0);
    EXPECT_FALSE(missed.isVisible());
}

TEST_F(RingAlert, TimeoutEntersTheLatestCallerClosesAndShowsTheMissedCalls)
{
    alert.Timer1->setInterval(20);
    alert.ShowRing("Ann");
    alert.ShowRing("Bob");
    ASSERT_TRUE(processEventsUntil([&] { return !alert.isVisible(); }));
    EXPECT_EQ(rowNames(missed), QStringList{"Bob"});
    EXPECT_TRUE(missed.isVisible());
    EXPECT_EQ(main.restores, 1);
    EXPECT_EQ(main.peerClears, 1);
    EXPECT_FALSE(alert.Timer1->isActive()) << "one timeout per showing";
}

TEST_F(RingAlert, TimeoutForAListedCallerAddsNothingButStillShowsTheList)
{
    missed.AddMissedCall("ann");
    const QString stamp = missed.ListView1->topLevelItem(0)->text(1);
    alert.Timer1->setInterval(20);
    alert.ShowRing("Ann");
    ASSERT_TRUE(processEventsUntil([&] { return missed.isVisible(); }));
    EXPECT_EQ(rowNames(missed), QStringList{"ann"});
    EXPECT_EQ(missed.ListView1->topLevelItem(0)->text(1), stamp);
    EXPECT_FALSE(alert.isVisible());
}

TEST_F(RingAlert, MarkupInTheCallersNameIsShownLiterally)
{
    const QString name = QStringLiteral("<b>x</b><img src=\"file:///etc/passwd\">");
    alert.Timer1->setInterval(20);
    alert.ShowRing(name);
    EXPECT_EQ(alert.Label2->textFormat(), Qt::PlainText);
    EXPECT_EQ(alert.Label2->text(), name);
    // Rendered as markup the text would shrink to "x" plus an image.
    EXPECT_GT(alert.Label2->sizeHint().width(), alert.Label2->fontMetrics().horizontalAdvance("<b>x</b><img"));
    ASSERT_TRUE(processEventsUntil([&] { return missed.isVisible(); }));
    EXPECT_EQ(rowNames(missed), QStringList{name});
}

} // namespace
} // namespace kavelo
