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

} // namespace
} // namespace kavelo
