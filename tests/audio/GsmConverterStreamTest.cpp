// The GSM 06.10 compression streams the converter runs on.
#include "voice/GsmCodec.h"
#include "platform/compression/GsmCompressionManager.h"

#include "GsmConverterFormats.h"

#include <gtest/gtest.h>
#include <cmath>
#include <functional>
#include <vector>

namespace kavelo {
namespace {

const WaveFormat kPcm = test::callPcmFormat();
const WaveFormat kGsm = test::callGsmFormat();

std::vector<std::uint8_t> speechLike(std::size_t samples)
{
    std::vector<std::uint8_t> pcm(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        const double v = 50 * std::sin(2 * M_PI * 180 * t) * (1 + std::sin(2 * M_PI * 3 * t)) / 2
                       + 20 * std::sin(2 * M_PI * 1100 * t);
        pcm[i] = static_cast<std::uint8_t>(128 + std::lround(v));
    }
    return pcm;
}

class GsmStreamTest : public ::testing::Test {
protected:
    GsmStreamTest() { EXPECT_EQ(manager.streamOpen(stream, kPcm, kGsm, 0), MMSYSERR_NOERROR); }

    AcmStreamHeader headerFor(std::vector<std::uint8_t>& source, std::vector<std::uint8_t>& destination)
    {
        AcmStreamHeader h;
        h.cbStruct = kAcmStreamHeaderSize;
        h.pbSrc = source.data();
        h.cbSrcLength = static_cast<std::uint32_t>(source.size());
        h.pbDst = destination.data();
        h.cbDstLength = static_cast<std::uint32_t>(destination.size());
        return h;
    }

    // Converts `source` in one call through a prepared header; returns the blocks made.
    std::vector<std::uint8_t> convert(HACMSTREAM s, std::vector<std::uint8_t> source, std::uint32_t flags = 0)
    {
        std::vector<std::uint8_t> out(source.size() / 320 * 65 + 65);
        AcmStreamHeader h = headerFor(source, out);
        EXPECT_EQ(manager.streamPrepareHeader(s, h, 0), MMSYSERR_NOERROR);
        EXPECT_EQ(manager.streamConvert(s, h, ACM_STREAMCONVERTF_BLOCKALIGN | flags), MMSYSERR_NOERROR);
        EXPECT_EQ(manager.streamReset(s, 0), MMSYSERR_NOERROR);
        EXPECT_EQ(manager.streamUnprepareHeader(s, h, 0), MMSYSERR_NOERROR);
        out.resize(h.cbDstLengthUsed);
        return out;
    }

    GsmCompressionManager manager;
    HACMSTREAM stream = 0;
};

struct FormatPair {
    const char* name;
    std::function<void(WaveFormat& in, WaveFormat& out)> change;
};

class GsmStreamFormats : public ::testing::TestWithParam<FormatPair> {};

TEST_P(GsmStreamFormats, OnlyPcm8kHz8BitMonoToGsmBlocksCanBeOpened)
{
    WaveFormat in = kPcm;
    WaveFormat out = kGsm;
    GetParam().change(in, out);
    GsmCompressionManager manager;
    HACMSTREAM stream = 0;
    EXPECT_EQ(manager.streamOpen(stream, in, out, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(stream, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Refused, GsmStreamFormats,
    ::testing::Values(
        FormatPair{"Decoding", [](WaveFormat& in, WaveFormat& out) { std::swap(in, out); }},
        FormatPair{"SixteenBitSource", [](WaveFormat& in, WaveFormat&) { in.setBitsPerSample(16); }},
        FormatPair{"StereoSource", [](WaveFormat& in, WaveFormat&) { in.setChannels(2); }},
        FormatPair{"Source11025Hz", [](WaveFormat& in, WaveFormat&) { in.setSamplesPerSec(11025); }},
        FormatPair{"GsmToGsm", [](WaveFormat& in, WaveFormat& out) { in = out; }},
        FormatPair{"OtherBlockSize", [](WaveFormat&, WaveFormat& out) { out.setExtraU16(0, 160); }},
        FormatPair{"NoSamplesPerBlock", [](WaveFormat&, WaveFormat& out) { out.setExtraSize(0); }},
        FormatPair{"WrongByteRate", [](WaveFormat&, WaveFormat& out) { out.setAvgBytesPerSec(1650); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GsmStreamOpen, QueryAnswersWithoutOpeningAndUnknownFlagsAreRefused)
{
    GsmCompressionManager manager;
    HACMSTREAM stream = 0;
    EXPECT_EQ(manager.streamOpen(stream, kPcm, kGsm, ACM_STREAMOPENF_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(stream, 0u);
    EXPECT_EQ(manager.streamOpen(stream, kPcm, kGsm, 0x02), MMSYSERR_INVALFLAG);
    EXPECT_EQ(stream, 0u);
}

TEST_F(GsmStreamTest, SizeCountsWholeBlocksOnly)
{
    std::uint32_t out = 0;
    EXPECT_EQ(manager.streamSize(stream, 2000, out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
    EXPECT_EQ(out, 390u);
    EXPECT_EQ(manager.streamSize(stream, 2048, out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
    EXPECT_EQ(out, 390u);
    EXPECT_EQ(manager.streamSize(stream, 390, out, ACM_STREAMSIZEF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_EQ(out, 1920u);
    out = 7;
    EXPECT_EQ(manager.streamSize(stream, 319, out, ACM_STREAMSIZEF_SOURCE), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(out, 7u);
    EXPECT_EQ(manager.streamSize(stream, 2000, out, 0x08), MMSYSERR_INVALFLAG);
}

TEST_F(GsmStreamTest, ConvertTakesWholeBlocksThatFitTheDestination)
{
    std::vector<std::uint8_t> source = speechLike(2000);
    std::vector<std::uint8_t> destination(390 + 10, 0xEE);
    AcmStreamHeader h = headerFor(source, destination);
    ASSERT_EQ(manager.streamPrepareHeader(stream, h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(h.fdwStatus, ACMSTREAMHEADER_STATUSF_PREPARED);
    ASSERT_EQ(manager.streamConvert(stream, h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(h.cbSrcLengthUsed, 1920u);
    EXPECT_EQ(h.cbDstLengthUsed, 390u);
    EXPECT_NE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE, 0u);
    EXPECT_EQ(std::vector<std::uint8_t>(destination.begin() + 390, destination.end()),
              std::vector<std::uint8_t>(10, 0xEE))
        << "nothing is written past the whole blocks";

    h.cbDstLength = 100;
    ASSERT_EQ(manager.streamConvert(stream, h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(h.cbSrcLengthUsed, 320u);
    EXPECT_EQ(h.cbDstLengthUsed, 65u);
}

TEST_F(GsmStreamTest, BlocksMatchTheBlockCodecAndTheEncoderStateCarriesAcrossCalls)
{
    const std::vector<std::uint8_t> signal = speechLike(3840);
    const std::vector<std::uint8_t> first(signal.begin(), signal.begin() + 1920);
    const std::vector<std::uint8_t> second(signal.begin() + 1920, signal.end());

    std::vector<std::uint8_t> pieces = convert(stream, first);
    const std::vector<std::uint8_t> rest = convert(stream, second);
    pieces.insert(pieces.end(), rest.begin(), rest.end());

    GsmCodec codec;
    std::vector<std::uint8_t> expected(12 * 65);
    for (std::size_t b = 0; b < 12; ++b)
        codec.encodeBlockU8(std::span<const std::uint8_t, 320>(signal.data() + b * 320, 320),
                            std::span<std::uint8_t, 65>(expected.data() + b * 65, 65));
    EXPECT_EQ(pieces, expected) << "two calls with a reset between code like one continuous signal";

    HACMSTREAM fresh = 0;
    ASSERT_EQ(manager.streamOpen(fresh, kPcm, kGsm, 0), MMSYSERR_NOERROR);
    EXPECT_NE(fresh, stream);
    EXPECT_NE(convert(fresh, second), rest) << "a new stream starts from a fresh encoder";
    EXPECT_EQ(convert(stream, first, ACM_STREAMCONVERTF_START),
              std::vector<std::uint8_t>(expected.begin(), expected.begin() + 390))
        << "the start flag begins anew";
}

TEST_F(GsmStreamTest, HeadersMustBePreparedByThisStreamAndKeepTheirBuffers)
{
    std::vector<std::uint8_t> source = speechLike(2000);
    std::vector<std::uint8_t> destination(390);
    AcmStreamHeader h = headerFor(source, destination);
    EXPECT_EQ(manager.streamConvert(stream, h, ACM_STREAMCONVERTF_BLOCKALIGN), ACMERR_UNPREPARED);
    EXPECT_EQ(manager.streamUnprepareHeader(stream, h, 0), ACMERR_UNPREPARED);

    AcmStreamHeader tooSmall = h;
    tooSmall.cbStruct = 40;
    EXPECT_EQ(manager.streamPrepareHeader(stream, tooSmall, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(manager.streamPrepareHeader(stream, h, 1), MMSYSERR_INVALFLAG);

    ASSERT_EQ(manager.streamPrepareHeader(stream, h, 0), MMSYSERR_NOERROR);
    HACMSTREAM other = 0;
    ASSERT_EQ(manager.streamOpen(other, kPcm, kGsm, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(manager.streamConvert(other, h, ACM_STREAMCONVERTF_BLOCKALIGN), ACMERR_UNPREPARED);
    EXPECT_EQ(manager.streamConvert(stream, h, 0x40), MMSYSERR_INVALFLAG);

    h.cbSrcLength = 4000;
    EXPECT_EQ(manager.streamConvert(stream, h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_INVALPARAM)
        << "a source longer than the prepared one would be read past its end";
    h.cbSrcLength = 2000;
    EXPECT_EQ(manager.streamConvert(stream, h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(manager.streamUnprepareHeader(stream, h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED, 0u);
    EXPECT_EQ(manager.streamUnprepareHeader(stream, h, 0), ACMERR_UNPREPARED);
}

TEST_F(GsmStreamTest, EveryCallOnAClosedOrNullHandleIsAnInvalidHandle)
{
    EXPECT_EQ(manager.streamReset(stream, 1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(manager.streamClose(stream, 1), MMSYSERR_INVALFLAG);
    ASSERT_EQ(manager.streamClose(stream, 0), MMSYSERR_NOERROR);

    std::vector<std::uint8_t> source(640), destination(130);
    AcmStreamHeader h = headerFor(source, destination);
    std::uint32_t size = 0;
    for (const HACMSTREAM handle : {stream, HACMSTREAM{0}}) {
        SCOPED_TRACE(handle);
        EXPECT_EQ(manager.streamSize(handle, 2000, size, 0), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(manager.streamPrepareHeader(handle, h, 0), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(manager.streamConvert(handle, h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(manager.streamReset(handle, 0), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(manager.streamUnprepareHeader(handle, h, 0), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(manager.streamClose(handle, 0), MMSYSERR_INVALHANDLE);
    }
}

} // namespace
} // namespace kavelo
