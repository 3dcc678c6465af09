#include "store/ChatFont.h"
#include "store/ColorValue.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPalette>
#include <algorithm>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace kavelo {
namespace {

TEST(ColorValue, PlainValuesCarryRedInTheLowByte)
{
    EXPECT_EQ(colorFromValue(0x000000FF), QColor(255, 0, 0));
    EXPECT_EQ(colorFromValue(0x00FF0000), QColor(0, 0, 255));
    EXPECT_EQ(colorFromValue(0x00123456), QColor(0x56, 0x34, 0x12));
    EXPECT_EQ(colorValue(QColor(0x56, 0x34, 0x12)), 0x00123456u);
    EXPECT_EQ(colorValue(QColor(10, 20, 30, 40)), 0x001E140Au) << "alpha is not part of a stored colour";
}

TEST(ColorValue, SystemColoursFollowTheApplicationPalette)
{
    const QPalette palette = QApplication::palette();
    EXPECT_EQ(colorFromValue(kSystemWindowColor), palette.color(QPalette::Active, QPalette::Base));
    EXPECT_EQ(colorFromValue(kSystemWindowTextColor), palette.color(QPalette::Active, QPalette::Text));
    EXPECT_EQ(colorFromValue(kSystemColor + 15), palette.color(QPalette::Active, QPalette::Button));
    EXPECT_EQ(colorFromValue(kSystemColor + 13), palette.color(QPalette::Active, QPalette::Highlight));
}

TEST(ColorValue, UnknownSystemIndicesAreBlack)
{
    for (ColorValue index : {25u, 31u, 200u, 255u})
        EXPECT_EQ(colorFromValue(kSystemColor + index), QColor(Qt::black)) << index;
}

TEST(ColorValue, GridHoldsTheSixteenDefaultColours)
{
    const std::array<QColor, kGridCellCount> expected = {
        QColor(0, 0, 0),       QColor(128, 0, 0),   QColor(0, 128, 0),     QColor(128, 128, 0),
        QColor(0, 0, 128),     QColor(128, 0, 128), QColor(0, 128, 128),   QColor(192, 192, 192),
        QColor(128, 128, 128), QColor(255, 0, 0),   QColor(0, 255, 0),     QColor(255, 255, 0),
        QColor(0, 0, 255),     QColor(255, 0, 255), QColor(0, 255, 255),   QColor(255, 255, 255),
    };
    for (std::size_t cell = 0; cell < expected.size(); ++cell)
        EXPECT_EQ(colorFromValue(kGridColors[cell].value), expected[cell]) << kGridColors[cell].name;
}

TEST(ColorValue, SavedBackgroundPicksTheFirstCellOfTheSameColour)
{
    EXPECT_EQ(gridCellOf(0x00000000), 0);
    EXPECT_EQ(gridCellOf(0x0000FFFF), 11);
    EXPECT_EQ(gridCellOf(0x00FFFFFF), 15);
    EXPECT_EQ(gridCellOf(0x00123456), -1);
    // A system colour is compared by its current value.
    EXPECT_EQ(gridCellOf(kSystemWindowColor), gridCellOf(colorValue(colorFromValue(kSystemWindowColor))));
}

struct FontCase {
    const char* label;
    ChatFont record;
};

class ChatFontRoundTrip : public ::testing::TestWithParam<FontCase> {};

TEST_P(ChatFontRoundTrip, SurvivesTheWayThroughQFont)
{
    const ChatFont original = GetParam().record;
    const QFont font = toQFont(original);
    EXPECT_EQ(font.family(), original.name);
    EXPECT_EQ(font.pointSize(), original.size);

    ChatFont copy;
    copy.charset = original.charset;
    copy.background = original.background;
    copy.color = original.color;
    assignFont(copy, font, colorFromValue(original.color));
    EXPECT_EQ(copy, original);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ChatFontRoundTrip,
    ::testing::Values(
        FontCase{"plain", {QStringLiteral("DejaVu Sans"), 8, 0, 0, 0x00000000, kSystemWindowColor}},
        FontCase{"bold", {QStringLiteral("DejaVu Serif"), 12, kStyleBold, 204, 0x000000FF, 0x00FFFFFF}},
        FontCase{"italic", {QStringLiteral("Liberation Mono"), 10, kStyleItalic, 0, 0x00800000, 0}},
        FontCase{"underline", {QStringLiteral("Sans"), 9, kStyleUnderline, 1, 0x00008000, 0}},
        FontCase{"strikeout", {QStringLiteral("Serif"), 30, kStyleStrikeOut, 0, 0x00C0C0C0, 0}},
        FontCase{"all styles", {QStringLiteral("Monospace"), 72,
                                kStyleBold | kStyleItalic | kStyleUnderline | kStyleStrikeOut, 238,
                                kSystemWindowTextColor, 0x00808080}}),
    [](const auto& info) {
        std::string name = info.param.label;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST(ChatFont, StylesBecomeQFontAttributes)
{
    const QFont font = toQFont({QStringLiteral("Sans"), 11, kStyleBold | kStyleStrikeOut, 0, 0, 0});
    EXPECT_TRUE(font.bold());
    EXPECT_FALSE(font.italic());
    EXPECT_FALSE(font.underline());
    EXPECT_TRUE(font.strikeOut());
}

TEST(ChatFont, AnEmptyRecordLeavesTheDefaultFont)
{
    // What a failed read of app.txt leaves: no name, size 0.
    const QFont font = toQFont(ChatFont{});
    EXPECT_GT(QFontInfo(font).pointSize(), 0);
    EXPECT_FALSE(font.bold());
}

TEST(ChatFont, NegativeSizeIsAPixelHeight)
{
    const QFont font = toQFont({QStringLiteral("Sans"), -12, 0, 0, 0, 0});
    EXPECT_EQ(font.pixelSize(), 16);
    ChatFont back;
    assignFont(back, font, Qt::black);
    EXPECT_EQ(back.size, 12) << "stored in points";
}

struct SizeCase {
    qint32 stored;
    int pointSize;  // -1: not set in points
    int pixelSize;  // -1: not set in pixels
};

class ChatFontSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ChatFontSizes, AnySizeInTheRecordGivesAFontThatCanBeDrawn)
{
    const SizeCase c = GetParam();
    const ChatFont record{QStringLiteral("Sans"), c.stored, 0xFF, 0xFF, 0xFFFFFFFF, 0xFFFFFFFF};
    const QFont font = toQFont(record);
    EXPECT_EQ(font.pointSize(), c.pointSize) << c.stored;
    EXPECT_EQ(font.pixelSize(), c.pixelSize) << c.stored;
    EXPECT_GT(QFontMetrics(font).height(), 0);
    EXPECT_LE(QFontInfo(font).pixelSize(), kMaxFontPointSize * 96 / 72 + 1);
    EXPECT_TRUE(font.bold() && font.italic() && font.underline() && font.strikeOut()) << "unknown style bits are ignored";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChatFontSizes,
    ::testing::Values(SizeCase{1, 1, -1}, SizeCase{512, 512, -1}, SizeCase{513, 512, -1},
                      SizeCase{100000, 512, -1}, SizeCase{std::numeric_limits<qint32>::max(), 512, -1},
                      SizeCase{-1, -1, 1}, SizeCase{-512, -1, 683}, SizeCase{-513, -1, 683},
                      SizeCase{-100000, -1, 683}, SizeCase{std::numeric_limits<qint32>::min(), -1, 683}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(ChatFont, LongFaceNameIsCutTo32Characters)
{
    QFont font;
    font.setFamilies({QStringLiteral("An Extraordinarily Long Font Face Name Indeed")});
    ChatFont record;
    assignFont(record, font, Qt::black);
    EXPECT_EQ(record.name, QStringLiteral("An Extraordinarily Long Font Fac"));
    EXPECT_EQ(record.name.size(), kMaxFontNameLength);
}

TEST(ChatFont, ChoosingLeavesCharacterSetAndBackgroundAlone)
{
    ChatFont record{QStringLiteral("Sans"), 8, 0, 161, 0, 0x0000FFFF};
    QFont font(QStringLiteral("Serif"));
    font.setPointSize(20);
    font.setItalic(true);
    assignFont(record, font, QColor(0, 0, 255));
    EXPECT_EQ(record, (ChatFont{QStringLiteral("Serif"), 20, kStyleItalic, 161, 0x00FF0000, 0x0000FFFF}));
}

TEST(ChatFont, ASystemColourStaysOneUnlessAnotherColourIsChosen)
{
    ChatFont record{QStringLiteral("Sans"), 8, 0, 0, kSystemWindowTextColor, 0};
    assignFont(record, toQFont(record), colorFromValue(kSystemWindowTextColor));
    EXPECT_EQ(record.color, kSystemWindowTextColor);

    const QColor other = colorFromValue(kSystemWindowTextColor) == QColor(Qt::red) ? Qt::green : Qt::red;
    assignFont(record, toQFont(record), other);
    EXPECT_EQ(record.color, colorValue(other));
}

} // namespace
} // namespace kavelo
