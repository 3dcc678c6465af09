#include "windows/TimeStamp.h"

#include <gtest/gtest.h>

namespace kavelo {
namespace {

const QDateTime kWhen(QDate(2026, 12, 8), QTime(14, 5, 9));

TEST(TimeStamp, ShortDateAndLongTimeWithoutTheZone)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(dateTimeText(kWhen, german), "08.12.26 14:05:09");
    EXPECT_EQ(longTimeText(kWhen.time(), german), "14:05:09");

    const QLocale us(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(dateTimeText(kWhen, us), "12/8/26 2:05:09 PM");
}

TEST(TimeStamp, LiteralTextOfALocaleStaysAndTheZoneGoesWithItsBrackets)
{
    const QTime time(14, 5, 9);
    EXPECT_EQ(longTimeText(time, QLocale(QLocale::French, QLocale::Canada)), "14 h 05 min 09 s");
    EXPECT_EQ(longTimeText(time, QLocale(QLocale::LowGerman, QLocale::Germany)), "Klock 14.05:09");
}

} // namespace
} // namespace kavelo
