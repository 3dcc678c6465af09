#include "voice/VoicePlayout.h"
#include "voice/PlayoutSimulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace kavelo {
namespace {

constexpr std::size_t kBlockBytes = GsmCodec::kBlockBytes;
constexpr std::size_t kBlockSamples = GsmCodec::kBlockSamples;

// `blocks` GSM blocks of a sustained vowel, as a talker's encoder makes them.
std::vector<std::uint8_t> encodedVowel(std::size_t blocks)
{
    GsmCodec encoder;
    std::vector<std::uint8_t> bytes(blocks * kBlockBytes);
    std::vector<std::int16_t> pcm(kBlockSamples);
    for (std::size_t b = 0; b < blocks; ++b) {
        for (std::size_t i = 0; i < kBlockSamples; ++i)
            pcm[i] = sim::voicedSample(static_cast<std::int64_t>(b * kBlockSamples + i));
        encoder.encodeBlock(std::span<const std::int16_t, kBlockSamples>(pcm.data(), kBlockSamples),
                            std::span<std::uint8_t, kBlockBytes>(bytes.data() + b * kBlockBytes, kBlockBytes));
    }
    return bytes;
}

// What one decoder, run over every block in order, makes of them.
std::vector<std::int16_t> decodedInOneRun(const std::vector<std::uint8_t>& bytes)
{
    GsmCodec decoder;
    const std::size_t blocks = bytes.size() / kBlockBytes;
    std::vector<std::int16_t> pcm(blocks * kBlockSamples);
    for (std::size_t b = 0; b < blocks; ++b)
        decoder.decodeBlock(std::span<const std::uint8_t, kBlockBytes>(bytes.data() + b * kBlockBytes, kBlockBytes),
                            std::span<std::int16_t, kBlockSamples>(pcm.data() + b * kBlockSamples, kBlockSamples));
    return pcm;
}

// Everything that waits to be heard, pulled at once.
std::vector<std::int16_t> pullAll(VoicePlayout& playout)
{
    std::vector<std::int16_t> out(static_cast<std::size_t>(playout.buffer().depthSamples()));
    playout.pull(out);
    return out;
}

struct DatagramCase {
    std::size_t bytes;
    std::size_t wholeBlocks;
};

class VoicePlayoutDatagrams : public ::testing::TestWithParam<DatagramCase> {};

// A datagram is heard as exactly its whole blocks decoded, after the quiet
// lead-in the playout keeps for a late next datagram; a trailing part-block
// is never heard as noise.
TEST_P(VoicePlayoutDatagrams, AreHeardAsTheirWholeBlocksAndNothingElse)
{
    const auto [size, wholeBlocks] = GetParam();
    std::vector<std::uint8_t> datagram = encodedVowel(wholeBlocks + 1);
    datagram.resize(size, 0x5A);
    const std::vector<std::int16_t> expected =
        decodedInOneRun({datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(wholeBlocks * kBlockBytes)});

    VoicePlayout playout;
    playout.receive(datagram, 0.0);
    const std::vector<std::int16_t> heard = pullAll(playout);

    ASSERT_GE(heard.size(), expected.size());
    const std::size_t leadIn = heard.size() - expected.size();
    EXPECT_LE(leadIn, static_cast<std::size_t>(PlayoutBuffer::kMaxTargetMs * PlayoutBuffer::kSamplesPerMs));
    EXPECT_TRUE(std::all_of(heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(leadIn),
                            [](std::int16_t s) { return s == 0; }));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), heard.begin() + static_cast<std::ptrdiff_t>(leadIn)));
}

INSTANTIATE_TEST_SUITE_P(Lengths, VoicePlayoutDatagrams,
                         ::testing::Values(DatagramCase{0, 0}, DatagramCase{64, 0}, DatagramCase{65, 1},
                                           DatagramCase{130, 2}, DatagramCase{390, 6}, DatagramCase{391, 6},
                                           DatagramCase{454, 6}));

// The sender keeps one encoder state for the whole call, so the receiver must
// keep one decoder state too: a decoder started afresh for each datagram (or
// for a playout reset) would be heard as a click at every datagram's start.
TEST(VoicePlayout, DecodesEveryDatagramOfACallWithOneRunningDecoder)
{
    const std::vector<std::uint8_t> call = encodedVowel(6);
    const std::vector<std::int16_t> expected = decodedInOneRun(call);
    const auto half = static_cast<std::ptrdiff_t>(3 * kBlockBytes);

    VoicePlayout playout;
    playout.receive({call.data(), call.data() + half}, 0.0);
    pullAll(playout);
    playout.reset();
    // Long after the first: the playout starts afresh, without stretching.
    playout.receive({call.data() + half, call.data() + call.size()}, 5000.0);
    const std::vector<std::int16_t> heard = pullAll(playout);

    const std::vector<std::int16_t> secondHalf(expected.begin() + 3 * kBlockSamples, expected.end());
    ASSERT_GE(heard.size(), secondHalf.size());
    EXPECT_TRUE(std::equal(secondHalf.begin(), secondHalf.end(), heard.end() - static_cast<std::ptrdiff_t>(secondHalf.size())));
}

} // namespace
} // namespace kavelo
