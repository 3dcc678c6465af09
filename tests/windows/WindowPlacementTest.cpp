#include "FakeMainWindow.h"
#include "FakeMessagesLink.h"
#include "support/TestSupport.h"
#include "windows/ContactListWindow.h"
#include "windows/MessagesWindow.h"
#include "windows/MissedCallsWindow.h"

#include <QAccessible>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace kavelo {
namespace {

// The main window stands in as a plain window the side windows belong to.
class SideWindowTest : public ::testing::Test {
protected:
    void showOwnerAt(int x, int y)
    {
        owner.resize(200, 150);
        owner.move(x, y);
        owner.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    }

    QWidget owner;
    QTemporaryDir folder; // where the contact list keeps its file
    test::FakeMainWindow main{folder.path() + u'/'};
    test::FakeMessagesLink link;
};

TEST_F(SideWindowTest, ASideWindowOpensBesideTheMainWindowAndLaterWhereTheUserLeftIt)
{
    showOwnerAt(40, 60);
    MissedCallsWindow missed(&owner);
    missed.show();
    EXPECT_GE(missed.x(), owner.frameGeometry().right()) << "it opened on top of the main window";
    EXPECT_EQ(missed.y(), owner.y());

    missed.move(300, 250); // where the user puts it
    missed.hide();
    missed.show();
    EXPECT_EQ(missed.pos(), QPoint(300, 250));
}

TEST_F(SideWindowTest, WithoutRoomOnTheRightItOpensOnTheLeft)
{
    const QRect area = owner.screen()->availableGeometry();
    showOwnerAt(area.right() - 220, 60);
    MissedCallsWindow missed(&owner);
    missed.show();
    EXPECT_LE(missed.frameGeometry().right(), owner.frameGeometry().left());
    EXPECT_GE(missed.x(), area.left());
}

// Each is a window to assistive technology, and Escape closes it whichever
// control has the focus.
TEST_F(SideWindowTest, EachSideWindowIsAWindowThatEscapeCloses)
{
    const std::pair<const char*, std::function<std::unique_ptr<QWidget>()>> windows[] = {
        {"contact list", [&] { return std::make_unique<ContactListWindow>(main, &owner); }},
        {"missed calls", [&] { return std::make_unique<MissedCallsWindow>(&owner); }},
        {"messages", [&] { return std::make_unique<MessagesWindow>(link, &owner); }},
    };
    showOwnerAt(40, 60);
    for (const auto& [name, make] : windows) {
        SCOPED_TRACE(name);
        const std::unique_ptr<QWidget> window = make();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        const QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(window.get());
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), QAccessible::Window);
        // As the keyboard delivers it: to the window, whichever control has the focus.
        QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
        EXPECT_FALSE(window->isVisible());
    }
}

} // namespace
} // namespace kavelo
