// The converter's stored values: InputBufferSize and the two 133-byte format blocks.
#include "audio/GsmConverter.h"
#include "platform/ComponentData.h"

#include <QBuffer>
#include <gtest/gtest.h>
#include <vector>

namespace kavelo {
namespace {

// Records the blocks a component writes, in order.
class RecordingFiler : public Filer {
public:
    std::vector<std::pair<QString, QByteArray>> written;

    void DefineBinaryProperty(const QString& name, const BinaryReader&, const BinaryWriter& writer,
                              bool hasData) override
    {
        ASSERT_TRUE(hasData) << "the format blocks are always stored";
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        writer(buffer);
        written.emplace_back(name, buffer.data());
    }
};

WaveFormat numbered(std::uint8_t first)
{
    WaveFormat f;
    for (std::size_t i = 0; i < WaveFormat::kSize; ++i)
        f.bytes[i] = static_cast<std::uint8_t>(first + i);
    return f;
}

QByteArray recordBytes(const WaveFormat& f)
{
    return QByteArray(reinterpret_cast<const char*>(f.bytes.data()), WaveFormat::kSize);
}

QByteArray block(std::uint32_t length, const QByteArray& bytes)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return out + bytes;
}

QByteArray storedData(const QByteArray& formatIn, const QByteArray& formatOut = {})
{
    QByteArray data = "object converter: GsmConverter\n  InputBufferSize = 2000\n";
    data += "  ACMFormatIn = {" + formatIn.toHex() + "}\n";
    if (!formatOut.isNull())
        data += "  ACMFormatOut = {" + formatOut.toHex() + "}\n";
    return data + "end\n";
}

class GsmConverterDataTest : public ::testing::Test {
protected:
    GsmConverterDataTest()
    {
        convertor->setObjectName(QStringLiteral("converter"));
        convertor->ACMFormatIn() = numbered(1);
        convertor->ACMFormatOut() = numbered(101);
    }

    QObject owner;
    GsmConverter* convertor = new GsmConverter(&owner);
};

TEST_F(GsmConverterDataTest, WritesFormatInThenFormatOutAs133ByteBlocks)
{
    RecordingFiler filer;
    convertor->DefineProperties(filer);
    ASSERT_EQ(filer.written.size(), 2u);
    EXPECT_EQ(filer.written[0].first, QStringLiteral("ACMFormatIn"));
    EXPECT_EQ(filer.written[1].first, QStringLiteral("ACMFormatOut"));
    EXPECT_EQ(filer.written[0].second, QByteArray::fromHex("81000000") + recordBytes(numbered(1)));
    EXPECT_EQ(filer.written[1].second.size(), 133);
    EXPECT_EQ(filer.written[1].second, QByteArray::fromHex("81000000") + recordBytes(numbered(101)));
}

TEST_F(GsmConverterDataTest, StoredDataReadsBackIntoAnotherConverter)
{
    convertor->setInputBufferSize(2000);
    const QByteArray data = writeComponentData({convertor});
    EXPECT_TRUE(data.contains("InputBufferSize = 2000"));

    QObject otherOwner;
    auto* copy = new GsmConverter(&otherOwner);
    copy->setObjectName(QStringLiteral("converter"));
    readComponentData(&otherOwner, data);
    EXPECT_EQ(copy->InputBufferSize(), 2000u);
    EXPECT_EQ(copy->ACMFormatIn(), numbered(1));
    EXPECT_EQ(copy->ACMFormatOut(), numbered(101));
}

TEST_F(GsmConverterDataTest, TheDefaultSizeIsStoredToo)
{
    GsmConverter fresh;
    fresh.setObjectName(QStringLiteral("Fresh"));
    EXPECT_TRUE(writeComponentData({&fresh}).contains("InputBufferSize = 2048"));
}

TEST_F(GsmConverterDataTest, ALongerBlockFillsTheRecordAndSkipsTheRest)
{
    QByteArray longer = recordBytes(numbered(50)) + QByteArray(71, '\x7F');
    readComponentData(&owner, storedData(block(200, longer), block(129, recordBytes(numbered(7)))));
    EXPECT_EQ(convertor->ACMFormatIn(), numbered(50));
    EXPECT_EQ(convertor->ACMFormatOut(), numbered(7)) << "the surplus does not spill into the next record";
    EXPECT_EQ(convertor->InputBufferSize(), 2000u);
}

TEST_F(GsmConverterDataTest, AHugeStatedLengthWithLittleDataIsNoError)
{
    readComponentData(&owner, storedData(block(0xFFFFFFFF, QByteArray(150, '\x42'))));
    WaveFormat expected;
    expected.bytes.fill(0x42);
    EXPECT_EQ(convertor->ACMFormatIn(), expected);
    EXPECT_EQ(convertor->ACMFormatOut(), numbered(101)) << "a block that is not stored leaves its record alone";
}

TEST_F(GsmConverterDataTest, AShortBlockReplacesOnlyTheBytesItHolds)
{
    // 18 bytes stated and given; then 129 stated but only 20 there: neither is an error.
    readComponentData(&owner, storedData(block(18, QByteArray(18, '\x11')), block(129, QByteArray(20, '\x22'))));
    WaveFormat in = numbered(1);
    std::fill_n(in.bytes.begin(), 18, 0x11);
    WaveFormat out = numbered(101);
    std::fill_n(out.bytes.begin(), 20, 0x22);
    EXPECT_EQ(convertor->ACMFormatIn(), in);
    EXPECT_EQ(convertor->ACMFormatOut(), out);
}

TEST_F(GsmConverterDataTest, ATruncatedLengthIsReadAsFarAsItGoes)
{
    readComponentData(&owner, storedData(QByteArray::fromHex("02")));
    EXPECT_EQ(convertor->ACMFormatIn(), numbered(1)) << "length 2 with no bytes after it";
    readComponentData(&owner, storedData(QByteArray::fromHex("0200")));
    EXPECT_EQ(convertor->ACMFormatIn(), numbered(1));
}

} // namespace
} // namespace kavelo
