#include "platform/Exception.h"
#include "platform/Guarded.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace kavelo {
namespace {

TEST(Guarded, TurnsEveryKindOfExceptionIntoOneErrorBox)
{
    test::ErrorBoxCatcher errors;
    guarded([] { throw Exception(QStringLiteral("Host Lookup Canceled")); });
    guarded([] { throw std::runtime_error("disk full"); });
    guarded([] { throw std::bad_alloc(); });
    guarded([] { throw 42; });
    guarded([] {});
    ASSERT_EQ(errors.messages.size(), 4);
    EXPECT_EQ(errors.messages[0], QStringLiteral("Host Lookup Canceled"));
    EXPECT_EQ(errors.messages[1], QStringLiteral("disk full"));
    EXPECT_EQ(errors.messages[2], QStringLiteral("Out of memory"));
    EXPECT_FALSE(errors.messages[3].isEmpty());
}

TEST(Guarded, TheSameErrorArrivingWhileItsBoxIsOpenOpensNoSecondBox)
{
    QStringList shown;
    const ErrorReporter previous = setErrorReporter([&](const QString& message) {
        shown.append(message);
        // Inside the box's own loop the same failure and another one arrive.
        if (shown.size() == 1) {
            guarded([] { throw Exception(QStringLiteral("WaveInAddBuffer lost")); });
            guarded([] { throw Exception(QStringLiteral("WaveOut-Write lost")); });
        }
    });
    guarded([] { throw Exception(QStringLiteral("WaveInAddBuffer lost")); });
    guarded([] { throw Exception(QStringLiteral("WaveInAddBuffer lost")); });  // after the box closed
    setErrorReporter(previous);
    EXPECT_EQ(shown, (QStringList{QStringLiteral("WaveInAddBuffer lost"), QStringLiteral("WaveOut-Write lost"),
                                  QStringLiteral("WaveInAddBuffer lost")}));
}

TEST(Guarded, AFailingReporterDoesNotEscape)
{
    const ErrorReporter previous = setErrorReporter([](const QString&) { throw std::runtime_error("again"); });
    EXPECT_NO_THROW(guarded([] { throw Exception(QStringLiteral("x")); }));
    setErrorReporter(previous);
}

TEST(RepeatFilter, UntilClearedShowsOneBoxAtATimeAndEachMessageOnceUntilCleared)
{
    RepeatFilter filter(RepeatFilter::Holds::UntilCleared);
    QStringList shown;
    const ErrorReporter show = [&](const QString& message) {
        shown.append(message);
        // Inside the box's own loop: the same failure and another one.
        filter.pass(QStringLiteral("lost"), show);
        filter.pass(QStringLiteral("other"), show);
    };
    filter.pass(QStringLiteral("lost"), show);
    filter.pass(QStringLiteral("lost"), show);  // after the box closed
    EXPECT_EQ(shown, QStringList{QStringLiteral("lost")});
    filter.pass(QStringLiteral("other"), show);  // held back only while the first box showed
    EXPECT_EQ(shown, (QStringList{QStringLiteral("lost"), QStringLiteral("other")}));
    filter.clear();
    filter.pass(QStringLiteral("lost"), show);
    EXPECT_EQ(shown.size(), 3);
}

TEST(RepeatFilter, ABoxThatFailsCountsAsClosed)
{
    for (const auto holds : {RepeatFilter::Holds::WhileShown, RepeatFilter::Holds::UntilCleared}) {
        RepeatFilter filter(holds);
        EXPECT_THROW(filter.pass(QStringLiteral("a"), [](const QString&) { throw std::runtime_error("box"); }),
                     std::runtime_error);
        QStringList shown;
        filter.pass(QStringLiteral("b"), [&](const QString& message) { shown.append(message); });
        EXPECT_EQ(shown, QStringList{QStringLiteral("b")}) << "no box is left counted as showing";
    }
}

} // namespace
} // namespace kavelo
