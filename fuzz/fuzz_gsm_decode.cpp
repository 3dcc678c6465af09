// Playback of GSM 6.10: any bytes handed to the output device are decoded in
// whole 65-byte blocks without reading or writing past anything.
#include "voice/GsmCodec.h"

#include <array>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static kavelo::GsmCodec codec;
    std::array<std::int16_t, kavelo::GsmCodec::kBlockSamples> pcm;
    for (std::size_t offset = 0; offset + kavelo::GsmCodec::kBlockBytes <= size;
         offset += kavelo::GsmCodec::kBlockBytes) {
        codec.decodeBlock(std::span<const std::uint8_t, kavelo::GsmCodec::kBlockBytes>(
                              data + offset, kavelo::GsmCodec::kBlockBytes),
                          pcm);
    }
    return 0;
}
