#include "net/DatagramProtocol.h"

#include <gtest/gtest.h>

namespace kavelo {
namespace {

QByteArray bytes(const DatagramBuffer& buffer)
{
    return QByteArray(buffer.data(), static_cast<qsizetype>(buffer.size()));
}

struct ReceivedCase {
    const char* name;
    QByteArray datagram;
    DatagramKind kind;
    QByteArray text;  // extracted text, for text messages
};

class ReceivedDatagrams : public ::testing::TestWithParam<ReceivedCase> {};

TEST_P(ReceivedDatagrams, AreClassifiedAndTheirTextExtracted)
{
    const ReceivedCase& c = GetParam();
    EXPECT_EQ(classifyDatagram(c.datagram), c.kind);
    if (c.kind == DatagramKind::TextMessage) {
        EXPECT_EQ(extractText(c.datagram), c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, ReceivedDatagrams,
    ::testing::Values(
        ReceivedCase{"RingSignal", bytes(makeRingSignal()), DatagramKind::Ring, {}},
        ReceivedCase{"StopSignal", bytes(makeStopSignal()), DatagramKind::Stop, {}},
        ReceivedCase{"ShortRing", "ring", DatagramKind::Ring, {}},
        ReceivedCase{"Ringing", "ringing", DatagramKind::Ring, {}},
        ReceivedCase{"CapitalRing", "Ring", DatagramKind::Voice, {}},
        ReceivedCase{"ThreeLettersOfRing", "rin", DatagramKind::Voice, {}},
        ReceivedCase{"Stopped", "stopped", DatagramKind::Stop, {}},
        ReceivedCase{"Empty", QByteArray(), DatagramKind::Voice, {}},
        ReceivedCase{"GsmBlocks", QByteArray(390, '\xA5'), DatagramKind::Voice, {}},
        ReceivedCase{"Text", bytes(makeTextMessage("hello")), DatagramKind::TextMessage, "hello"},
        ReceivedCase{"TextCutAtBar", QByteArray("|messa|b|"), DatagramKind::TextMessage, "a"},
        ReceivedCase{"EmptyText", QByteArray("|mess|"), DatagramKind::TextMessage, ""},
        ReceivedCase{"MarkerOnly", QByteArray("|mess"), DatagramKind::TextMessage, ""},
        ReceivedCase{"TextWithoutEnd", QByteArray("|messrest"), DatagramKind::TextMessage, "rest"},
        ReceivedCase{"TextWithZeroBytes", QByteArray("|mess\0x|", 8), DatagramKind::TextMessage,
                     QByteArray("\0x", 2)},
        ReceivedCase{"FourOfMarker", "|mes", DatagramKind::Voice, {}},
        ReceivedCase{"CapitalMarker", "|Mess|", DatagramKind::Voice, {}},
        ReceivedCase{"RingBeatsText", "ring|mess|", DatagramKind::Ring, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SentDatagrams, SignalsFillTheWholeBufferWithTheWordFirst)
{
    for (const auto& [buffer, word] : {std::pair{makeRingSignal(), QByteArray("ring")},
                                       std::pair{makeStopSignal(), QByteArray("stop")}}) {
        ASSERT_EQ(buffer.size(), 390u);
        EXPECT_EQ(bytes(buffer).left(4), word);
        EXPECT_EQ(bytes(buffer).mid(4), QByteArray(386, '\0'));
    }
}

TEST(SentDatagrams, TextMessageIsMarkerTextBar)
{
    const QByteArray text(200, 'x');
    const QByteArray sent = bytes(makeTextMessage(text));
    EXPECT_EQ(sent.left(5), QByteArray("|mess"));
    EXPECT_EQ(sent.mid(5, 200), text);
    EXPECT_EQ(sent[205], '|');
    EXPECT_EQ(sent.mid(206), QByteArray(184, '\0'));
}

TEST(SentDatagrams, TextTooLongForTheBufferIsCutAndStillClosed)
{
    const QByteArray sent = bytes(makeTextMessage(QByteArray(1000, 'y')));
    EXPECT_EQ(sent.mid(5, 384), QByteArray(384, 'y'));
    EXPECT_EQ(sent[389], '|');
    EXPECT_EQ(extractText(sent), QByteArray(384, 'y'));
}

} // namespace
} // namespace kavelo
