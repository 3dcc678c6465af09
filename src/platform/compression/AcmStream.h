#pragma once

#include "platform/AudioDevice.h"
#include "platform/WaveFormat.h"

#include <array>
#include <cstdint>
#include <memory>

namespace kavelo {

// A conversion stream between two wave formats, addressed by handle. 0 is never
// a stream: every call on it answers MMSYSERR_INVALHANDLE.
using HACMSTREAM = std::uintptr_t;

inline constexpr std::uint32_t ACM_STREAMOPENF_QUERY = 0x01;
inline constexpr std::uint32_t ACM_STREAMSIZEF_SOURCE = 0x00;
inline constexpr std::uint32_t ACM_STREAMSIZEF_DESTINATION = 0x01;
inline constexpr std::uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x04;
inline constexpr std::uint32_t ACM_STREAMCONVERTF_START = 0x10;
inline constexpr std::uint32_t ACM_STREAMCONVERTF_END = 0x20;

inline constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
inline constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;

// The size callers put in cbStruct: the header's size in the stored layout the
// streams were designed around, whatever this platform's struct size is.
inline constexpr std::uint32_t kAcmStreamHeaderSize = 84;

// Describes one source buffer and one destination buffer of a conversion. The
// caller owns both buffers; the stream only reads pbSrc and writes pbDst.
struct AcmStreamHeader {
    std::uint32_t cbStruct = 0;
    std::uint32_t fdwStatus = 0;
    std::uintptr_t dwUser = 0;
    std::uint8_t* pbSrc = nullptr;
    std::uint32_t cbSrcLength = 0;
    std::uint32_t cbSrcLengthUsed = 0;
    std::uintptr_t dwSrcUser = 0;
    std::uint8_t* pbDst = nullptr;
    std::uint32_t cbDstLength = 0;
    std::uint32_t cbDstLengthUsed = 0;
    std::uintptr_t dwDstUser = 0;
    // Belongs to the stream from prepare to unprepare: what the buffers were when prepared.
    std::array<std::uintptr_t, 10> dwReservedDriver{};
};

// The compression manager: opens streams between formats and runs them. Every
// call returns 0 or an error code of the wave-audio / compression table. Streams
// are synchronous; only the thread that opened a stream uses it.
class AudioCompressionManager {
public:
    virtual ~AudioCompressionManager() = default;

    // Opens a stream from `source` to `destination` (both records are copied).
    // ACMERR_NOTPOSSIBLE when no codec converts between the two formats. With
    // ACM_STREAMOPENF_QUERY only answers whether it could, and opens nothing.
    virtual MMRESULT streamOpen(HACMSTREAM& stream, const WaveFormat& source,
                                const WaveFormat& destination, std::uint32_t flags) = 0;
    // Given source bytes (ACM_STREAMSIZEF_SOURCE) reports the destination bytes a
    // conversion produces, or the other way round (ACM_STREAMSIZEF_DESTINATION).
    virtual MMRESULT streamSize(HACMSTREAM stream, std::uint32_t input, std::uint32_t& output,
                                std::uint32_t flags) = 0;
    virtual MMRESULT streamPrepareHeader(HACMSTREAM stream, AcmStreamHeader& header,
                                         std::uint32_t flags) = 0;
    // Converts the header's source into its destination and sets both "used" lengths.
    virtual MMRESULT streamConvert(HACMSTREAM stream, AcmStreamHeader& header,
                                   std::uint32_t flags) = 0;
    virtual MMRESULT streamReset(HACMSTREAM stream, std::uint32_t flags) = 0;
    virtual MMRESULT streamUnprepareHeader(HACMSTREAM stream, AcmStreamHeader& header,
                                           std::uint32_t flags) = 0;
    virtual MMRESULT streamClose(HACMSTREAM stream, std::uint32_t flags) = 0;
};

// The manager new converters use: the GSM 06.10 codec over libgsm unless replaced (tests).
std::shared_ptr<AudioCompressionManager> defaultCompressionManager();
void setDefaultCompressionManager(std::shared_ptr<AudioCompressionManager> manager);

} // namespace kavelo
