#include "store/ChatSettingsFile.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <limits>

namespace kavelo::test {
namespace {

TEST(ChatSettingsFile, RecordLayoutIsFiftyTwoLittleEndianBytes)
{
    const ChatFont font{QStringLiteral("Arial \u20ac"), 12, kStyleBold | kStyleUnderline, 238, 0x00112233, 0};
    const QByteArray record = chatFontRecord(font, 0x80000005);
    ASSERT_EQ(record.size(), 52);
    EXPECT_EQ(record[0], 7);
    EXPECT_EQ(record.mid(1, 7), QByteArray("Arial \x80"));
    EXPECT_EQ(record.mid(8, 28), QByteArray(28, '\0'));
    EXPECT_EQ(record.mid(36, 4), QByteArray("\x0c\0\0\0", 4));
    EXPECT_EQ(record[40], 0x05);
    EXPECT_EQ(static_cast<unsigned char>(record[41]), 238);
    EXPECT_EQ(record.mid(44, 4), QByteArray("\x33\x22\x11\0", 4));
    EXPECT_EQ(record.mid(48, 4), QByteArray("\x05\0\0\x80", 4));

    ChatFont back = chatFontFromRecord(record);
    EXPECT_EQ(back.name, font.name);
    EXPECT_EQ(back.size, 12);
    EXPECT_EQ(back.style, font.style);
    EXPECT_EQ(back.charset, 238);
    EXPECT_EQ(back.color, 0x00112233u);
    EXPECT_EQ(back.background, 0x80000005u);
}

TEST(ChatSettingsFile, HostileNameLengthsAreCutToTheField)
{
    QByteArray record(52, 'A');
    record[0] = static_cast<char>(200);
    EXPECT_EQ(chatFontFromRecord(record).name, QString(32, QLatin1Char('A')));
    const ChatFont longName{QString(40, QLatin1Char('n')), 8, 0, 0, 0, 0};
    EXPECT_EQ(chatFontRecord(longName, 0)[0], 32);
}

TEST(ChatSettingsFile, AFileRoundTripsByteForByteWhateverItsFieldsHold)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("app.txt"));
    // Sizes no font can have, every style bit, any character set and colours:
    // shown clamped, but kept as they are.
    const ChatFont own{fromAnsi("\x81Odd\x9f face"), std::numeric_limits<qint32>::min(), 0xFF, 0xFF, 0xFFFFFFFF, 0};
    const ChatFont other{QStringLiteral("Serif"), std::numeric_limits<qint32>::max(), 0xF0, 2, kSystemColor + 99, 0};
    const QByteArray bytes = chatFontRecord(own, 0x12345678) + chatFontRecord(other, 0x12345678);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    const std::optional<ChatSettings> read = readChatSettings(path);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->own.size, std::numeric_limits<qint32>::min());
    EXPECT_GT(toQFont(read->own).pixelSize(), 0);
    EXPECT_LE(toQFont(read->other).pointSize(), kMaxFontPointSize);
    writeChatSettings(path, read->own, read->other, read->own.background);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bytes);
}

} // namespace
} // namespace kavelo::test
