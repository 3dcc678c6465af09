#include "platform/CodePage.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace kavelo
