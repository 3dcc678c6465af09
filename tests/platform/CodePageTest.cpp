#include "platform/CodePage.h"

#include <gtest/gtest.h>
#include <string>

namespace kavelo {
namespace {

struct CodePageCase {
    unsigned char byte;
    char16_t unicode;
};

class CodePageTable : public ::testing::TestWithParam<CodePageCase> {};

TEST_P(CodePageTable, DecodesAndEncodesBothWays)
{
    const auto [byte, unicode] = GetParam();
    const QByteArray bytes(1, static_cast<char>(byte));
    EXPECT_EQ(fromAnsi(bytes), QString(QChar(unicode)));
    EXPECT_EQ(toAnsi(QString(QChar(unicode))), bytes);
}

INSTANTIATE_TEST_SUITE_P(Windows1252, CodePageTable,
                         ::testing::Values(CodePageCase{'A', u'A'}, CodePageCase{0x7C, u'|'},
                                           CodePageCase{0x80, u'\u20AC'}, CodePageCase{0x8A, u'\u0160'},
                                           CodePageCase{0x92, u'\u2019'}, CodePageCase{0x9F, u'\u0178'},
                                           CodePageCase{0x81, u'\u0081'}, CodePageCase{0xE9, u'\u00E9'},
                                           CodePageCase{0xFF, u'\u00FF'}, CodePageCase{0x00, u'\0'}));

TEST(CodePage, EveryByteSurvivesARoundTrip)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = fromAnsi(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(toAnsi(text), all);
}

TEST(CodePage, CharactersOutsideTheCodePageBecomeOneQuestionMarkEach)
{
    EXPECT_EQ(toAnsi(u"a\u4E2Db"), QByteArray("a?b"));
    EXPECT_EQ(toAnsi(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
}

struct OutsideCase {
    const char* what;
    QString text;
    QStringList outside;
};

class CodePageOutside : public ::testing::TestWithParam<OutsideCase> {};

TEST_P(CodePageOutside, NamesExactlyTheCharactersThatWouldBecomeQuestionMarks)
{
    const OutsideCase& c = GetParam();
    EXPECT_EQ(charactersOutsideAnsi(c.text), c.outside) << c.what;
    // Whatever is named is what toAnsi loses; a text with nothing named survives.
    EXPECT_EQ(fromAnsi(toAnsi(c.text)) == c.text, c.outside.isEmpty()) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CodePageOutside,
    ::testing::Values(
        OutsideCase{"empty", QString(), {}},
        OutsideCase{"every byte's character", fromAnsi(QByteArray::fromHex("00417f8081909d9fa0e9ff")), {}},
        OutsideCase{"a typed question mark", QStringLiteral("who?"), {}},
        OutsideCase{"Greek", QStringLiteral("Ωmega α"), {QStringLiteral("Ω"), QStringLiteral("α")}},
        OutsideCase{"each once, first seen first", QStringLiteral("中 a → 中"),
                    {QStringLiteral("中"), QStringLiteral("→")}},
        OutsideCase{"outside the BMP is one character", QString::fromUtf8("x\xF0\x9F\x98\x80y"),
                    {QString::fromUtf8("\xF0\x9F\x98\x80")}},
        OutsideCase{"a lone surrogate", QString(QChar(0xD800)) + QStringLiteral("a"), {QString(QChar(0xD800))}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

} // namespace
} // namespace kavelo
