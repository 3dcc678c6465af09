#include "voice/GsmCodec.h"

#include <algorithm>
#include <array>
#include <gsm.h>
#include <new>

namespace kavelo {

GsmCodec::GsmCodec() : state_(gsm_create())
{
    if (state_ == nullptr)
        throw std::bad_alloc();
    int wav49 = 1;
    gsm_option(state_, GSM_OPT_WAV49, &wav49);
}

GsmCodec::~GsmCodec()
{
    gsm_destroy(state_);
}

void GsmCodec::encodeBlockU8(std::span<const std::uint8_t, kBlockSamples> pcm,
                             std::span<std::uint8_t, kBlockBytes> block)
{
    std::array<std::int16_t, kBlockSamples> wide;
    for (std::size_t i = 0; i < kBlockSamples; ++i)
        wide[i] = static_cast<std::int16_t>((pcm[i] - 128) * 256);
    encodeBlock(wide, block);
}

void GsmCodec::encodeBlock(std::span<const std::int16_t, kBlockSamples> pcm,
                           std::span<std::uint8_t, kBlockBytes> block)
{
    // libgsm takes non-const pointers but does not write the samples.
    auto* samples = const_cast<gsm_signal*>(pcm.data());
    gsm_encode(state_, samples, block.data());
    gsm_encode(state_, samples + 160, block.data() + 32);
}

bool GsmCodec::decodeBlock(std::span<const std::uint8_t, kBlockBytes> block,
                           std::span<std::int16_t, kBlockSamples> pcm)
{
    auto* bytes = const_cast<gsm_byte*>(block.data());
    const bool first = gsm_decode(state_, bytes, pcm.data()) == 0;
    const bool second = gsm_decode(state_, bytes + 33, pcm.data() + 160) == 0;
    if (!first || !second) {
        std::fill(pcm.begin(), pcm.end(), std::int16_t{0});
        return false;
    }
    return true;
}

} // namespace kavelo
