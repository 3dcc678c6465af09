#include "platform/Exception.h"
#include "platform/NotificationWindow.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <QThread>
#include <memory>
#include <thread>
#include <vector>

namespace kavelo {
namespace {

using test::processEventsUntil;

TEST(NotificationWindow, DeliversMessagesFromAThreadInOrderOnTheGuiThread)
{
    std::vector<qintptr> received;
    bool onGuiThread = true;
    NotificationWindow window([&](const NotificationMessage& m) {
        onGuiThread = onGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        EXPECT_EQ(m.number, kMmWimData);
        received.push_back(m.lParam);
    });
    const auto target = window.target();
    std::thread poster([target] {
        for (qintptr i = 0; i < 1000; ++i)
            target->post({kMmWimData, 7, i});
    });
    poster.join();
    EXPECT_TRUE(received.empty()) << "nothing is handled before the event loop runs";
    ASSERT_TRUE(processEventsUntil([&] { return received.size() == 1000; }));
    for (qintptr i = 0; i < 1000; ++i)
        ASSERT_EQ(received[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(onGuiThread);
}

TEST(NotificationWindow, PostingAfterTheWindowIsGoneDoesNothing)
{
    int handled = 0;
    std::shared_ptr<NotificationTarget> target;
    {
        NotificationWindow window([&](const NotificationMessage&) { ++handled; });
        target = window.target();
        target->post({kMmWomDone, 0, 1});  // pending when the window goes away
    }
    target->post({kMmWomDone, 0, 2});
    test::processEventsFor(50);
    EXPECT_EQ(handled, 0);
}

TEST(NotificationWindow, AnExceptionFromTheHandlerBecomesAnErrorBoxAndHandlingGoesOn)
{
    test::ErrorBoxCatcher errors;
    int handled = 0;
    NotificationWindow window([&](const NotificationMessage& m) {
        ++handled;
        if (m.lParam == 1)
            throw Exception(QStringLiteral("WaveIn-UnprepareHeader The specified handle is invalid."));
    });
    window.post({kMmWimData, 0, 1});
    window.post({kMmWimData, 0, 2});
    ASSERT_TRUE(processEventsUntil([&] { return handled == 2; }));
    EXPECT_EQ(errors.messages,
              QStringList{QStringLiteral("WaveIn-UnprepareHeader The specified handle is invalid.")});
}

} // namespace
} // namespace kavelo
