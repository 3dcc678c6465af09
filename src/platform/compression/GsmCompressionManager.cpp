#include "platform/compression/GsmCompressionManager.h"

#include "voice/GsmCodec.h"

#include <algorithm>

namespace kavelo {
namespace {

constexpr std::uint32_t kSampleRate = 8000;
constexpr std::uint32_t kPcmBlockBytes = GsmCodec::kBlockSamples; // one byte per sample
constexpr std::uint32_t kGsmBlockBytes = GsmCodec::kBlockBytes;
constexpr std::uint32_t kGsmBytesPerSec = kSampleRate / GsmCodec::kBlockSamples * GsmCodec::kBlockBytes;

// Where a prepared header keeps what it was prepared with, so that a conversion can
// tell a header of this stream from a foreign or since-changed one.
enum Reserved : std::size_t { kOwner, kSource, kSourceLength, kDestination, kDestinationLength };

bool isPcm8BitMono(const WaveFormat& f)
{
    return f.formatTag() == kWaveFormatPcm && f.channels() == 1 && f.samplesPerSec() == kSampleRate
        && f.bitsPerSample() == 8 && f.blockAlign() == 1 && f.avgBytesPerSec() == kSampleRate;
}

bool isGsm610(const WaveFormat& f)
{
    return f.formatTag() == kWaveFormatGsm610 && f.channels() == 1 && f.samplesPerSec() == kSampleRate
        && f.blockAlign() == kGsmBlockBytes && f.avgBytesPerSec() == kGsmBytesPerSec
        && f.extraSize() >= 2 && f.extraU16(0) == GsmCodec::kBlockSamples;
}

bool preparedBy(const AcmStreamHeader& header, HACMSTREAM stream)
{
    return (header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) != 0
        && header.dwReservedDriver[kOwner] == stream;
}

bool changedSincePrepared(const AcmStreamHeader& header)
{
    const auto& r = header.dwReservedDriver;
    return r[kSource] != reinterpret_cast<std::uintptr_t>(header.pbSrc)
        || r[kDestination] != reinterpret_cast<std::uintptr_t>(header.pbDst)
        || header.cbSrcLength > r[kSourceLength] || header.cbDstLength > r[kDestinationLength];
}

} // namespace

GsmCompressionManager::GsmCompressionManager() = default;
GsmCompressionManager::~GsmCompressionManager() = default;

bool GsmCompressionManager::canConvert(const WaveFormat& source, const WaveFormat& destination)
{
    return isPcm8BitMono(source) && isGsm610(destination);
}

MMRESULT GsmCompressionManager::streamOpen(HACMSTREAM& stream, const WaveFormat& source,
                                           const WaveFormat& destination, std::uint32_t flags)
{
    if ((flags & ~ACM_STREAMOPENF_QUERY) != 0)
        return MMSYSERR_INVALFLAG;
    if (!canConvert(source, destination))
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_STREAMOPENF_QUERY) != 0)
        return MMSYSERR_NOERROR;
    const HACMSTREAM handle = ++lastHandle_;
    streams_.emplace(handle, std::make_unique<GsmCodec>());
    stream = handle;
    return MMSYSERR_NOERROR;
}

MMRESULT GsmCompressionManager::streamSize(HACMSTREAM stream, std::uint32_t input, std::uint32_t& output,
                                           std::uint32_t flags)
{
    if (!streams_.contains(stream))
        return MMSYSERR_INVALHANDLE;
    std::uint32_t size = 0;
    if (flags == ACM_STREAMSIZEF_SOURCE)
        size = input / kPcmBlockBytes * kGsmBlockBytes;
    else if (flags == ACM_STREAMSIZEF_DESTINATION)
        size = input / kGsmBlockBytes * kPcmBlockBytes;
    else
        return MMSYSERR_INVALFLAG;
    // Less than one whole block converts to nothing, which no caller can use.
    if (size == 0)
        return ACMERR_NOTPOSSIBLE;
    output = size;
    return MMSYSERR_NOERROR;
}

MMRESULT GsmCompressionManager::streamPrepareHeader(HACMSTREAM stream, AcmStreamHeader& header,
                                                    std::uint32_t flags)
{
    if (!streams_.contains(stream))
        return MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    if (header.cbStruct < kAcmStreamHeaderSize || header.pbSrc == nullptr || header.pbDst == nullptr)
        return MMSYSERR_INVALPARAM;
    if (preparedBy(header, stream))
        return MMSYSERR_NOERROR;
    auto& r = header.dwReservedDriver;
    r[kOwner] = stream;
    r[kSource] = reinterpret_cast<std::uintptr_t>(header.pbSrc);
    r[kSourceLength] = header.cbSrcLength;
    r[kDestination] = reinterpret_cast<std::uintptr_t>(header.pbDst);
    r[kDestinationLength] = header.cbDstLength;
    header.fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT GsmCompressionManager::streamConvert(HACMSTREAM stream, AcmStreamHeader& header, std::uint32_t flags)
{
    const auto it = streams_.find(stream);
    if (it == streams_.end())
        return MMSYSERR_INVALHANDLE;
    constexpr std::uint32_t known = ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
    if ((flags & ~known) != 0)
        return MMSYSERR_INVALFLAG;
    if (!preparedBy(header, stream))
        return ACMERR_UNPREPARED;
    if (changedSincePrepared(header))
        return MMSYSERR_INVALPARAM;

    // The start of a new stream of audio begins from a fresh encoder; otherwise the
    // state carries on from the previous call, as one continuous signal.
    if ((flags & ACM_STREAMCONVERTF_START) != 0)
        it->second = std::make_unique<GsmCodec>();
    GsmCodec& codec = *it->second;

    const std::uint32_t blocks = std::min(header.cbSrcLength / kPcmBlockBytes, header.cbDstLength / kGsmBlockBytes);
    for (std::uint32_t i = 0; i < blocks; ++i) {
        codec.encodeBlockU8(std::span<const std::uint8_t, GsmCodec::kBlockSamples>(header.pbSrc + i * kPcmBlockBytes,
                                                                                   GsmCodec::kBlockSamples),
                            std::span<std::uint8_t, GsmCodec::kBlockBytes>(header.pbDst + i * kGsmBlockBytes,
                                                                           GsmCodec::kBlockBytes));
    }
    header.cbSrcLengthUsed = blocks * kPcmBlockBytes;
    header.cbDstLengthUsed = blocks * kGsmBlockBytes;
    header.fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT GsmCompressionManager::streamReset(HACMSTREAM stream, std::uint32_t flags)
{
    if (!streams_.contains(stream))
        return MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    // Conversions are synchronous, so nothing is ever pending; the encoder state is
    // kept, because callers reset after every conversion of a continuous signal.
    return MMSYSERR_NOERROR;
}

MMRESULT GsmCompressionManager::streamUnprepareHeader(HACMSTREAM stream, AcmStreamHeader& header,
                                                      std::uint32_t flags)
{
    if (!streams_.contains(stream))
        return MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    if ((header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0)
        return ACMERR_UNPREPARED;
    if (header.dwReservedDriver[kOwner] != stream || changedSincePrepared(header))
        return MMSYSERR_INVALPARAM;
    header.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    header.dwReservedDriver = {};
    return MMSYSERR_NOERROR;
}

MMRESULT GsmCompressionManager::streamClose(HACMSTREAM stream, std::uint32_t flags)
{
    const auto it = streams_.find(stream);
    if (it == streams_.end())
        return MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    streams_.erase(it);
    return MMSYSERR_NOERROR;
}

} // namespace kavelo
