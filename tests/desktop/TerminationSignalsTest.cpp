#include "desktop/TerminationSignals.h"
#include "support/TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>

namespace kavelo {
namespace {

using test::processEventsUntil;

sighandler_t currentHandler(int number)
{
    struct sigaction action = {};
    ::sigaction(number, nullptr, &action);
    return action.sa_handler;
}

class TerminationSignalsTest : public ::testing::TestWithParam<int> {};

// Each signal reaches the event loop once, as a Qt signal carrying its number;
// the process itself keeps running.
TEST_P(TerminationSignalsTest, SignalArrivesOnTheEventLoopOnce)
{
    TerminationSignals termination;
    ASSERT_TRUE(termination.installed());
    QList<int> received;
    QObject::connect(&termination, &TerminationSignals::terminationRequested,
                     [&](int number) { received.append(number); });

    ASSERT_EQ(::raise(GetParam()), 0);
    EXPECT_TRUE(received.isEmpty()) << "delivered inside the signal handler";
    ASSERT_TRUE(processEventsUntil([&] { return !received.isEmpty(); }));
    EXPECT_EQ(received, QList<int>{GetParam()});
    // A second signal would end the process: the program did not close in time.
    EXPECT_EQ(currentHandler(GetParam()), SIG_DFL);
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminationSignalsTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

TEST(TerminationSignals, HandlersAreRemovedWithTheObject)
{
    {
        TerminationSignals termination;
        ASSERT_TRUE(termination.installed());
        EXPECT_NE(currentHandler(SIGTERM), SIG_DFL);
        EXPECT_NE(currentHandler(SIGHUP), SIG_DFL);
    }
    EXPECT_EQ(currentHandler(SIGTERM), SIG_DFL);
    EXPECT_EQ(currentHandler(SIGINT), SIG_DFL);
    EXPECT_EQ(currentHandler(SIGHUP), SIG_DFL);
}

} // namespace
} // namespace kavelo
