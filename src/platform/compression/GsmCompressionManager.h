#pragma once

#include "platform/compression/AcmStream.h"

#include <map>
#include <memory>

namespace kavelo {

class GsmCodec;

// Compression streams from 8000 Hz 8-bit mono PCM to GSM 06.10 in the block layout
// of wave format tag 0x31. Every conversion produces whole 65-byte blocks only:
// source bytes short of a 320-sample block are left unconverted and not carried
// into the next call. A stream keeps one encoder state for its whole life.
class GsmCompressionManager : public AudioCompressionManager {
public:
    GsmCompressionManager();
    ~GsmCompressionManager() override;

    MMRESULT streamOpen(HACMSTREAM& stream, const WaveFormat& source, const WaveFormat& destination,
                        std::uint32_t flags) override;
    MMRESULT streamSize(HACMSTREAM stream, std::uint32_t input, std::uint32_t& output,
                        std::uint32_t flags) override;
    MMRESULT streamPrepareHeader(HACMSTREAM stream, AcmStreamHeader& header, std::uint32_t flags) override;
    MMRESULT streamConvert(HACMSTREAM stream, AcmStreamHeader& header, std::uint32_t flags) override;
    MMRESULT streamReset(HACMSTREAM stream, std::uint32_t flags) override;
    MMRESULT streamUnprepareHeader(HACMSTREAM stream, AcmStreamHeader& header, std::uint32_t flags) override;
    MMRESULT streamClose(HACMSTREAM stream, std::uint32_t flags) override;

    // Whether a stream between the two formats can be opened.
    static bool canConvert(const WaveFormat& source, const WaveFormat& destination);

private:
    std::map<HACMSTREAM, std::unique_ptr<GsmCodec>> streams_;
    HACMSTREAM lastHandle_ = 0;
};

} // namespace kavelo
