#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct gsm_state;

namespace kavelo {

// GSM 06.10 full rate in 65-byte blocks (two frames, 320 samples): the block
// layout of wave format tag 0x31. One codec keeps one libgsm state; frames must
// go through it in strict pairs because the block layout alternates frame parity.
class GsmCodec {
public:
    static constexpr std::size_t kBlockBytes = 65;
    static constexpr std::size_t kBlockSamples = 320;

    GsmCodec();
    ~GsmCodec();
    GsmCodec(const GsmCodec&) = delete;
    GsmCodec& operator=(const GsmCodec&) = delete;

    // 320 unsigned 8-bit samples (silence 0x80) into one 65-byte block.
    void encodeBlockU8(std::span<const std::uint8_t, kBlockSamples> pcm,
                       std::span<std::uint8_t, kBlockBytes> block);
    // 320 signed 16-bit samples into one block.
    void encodeBlock(std::span<const std::int16_t, kBlockSamples> pcm,
                     std::span<std::uint8_t, kBlockBytes> block);
    // One block into 320 signed 16-bit samples. Returns false for a block libgsm
    // rejects (its samples are then silence); arbitrary bytes never overrun anything.
    bool decodeBlock(std::span<const std::uint8_t, kBlockBytes> block,
                     std::span<std::int16_t, kBlockSamples> pcm);

private:
    gsm_state* state_;
};

} // namespace kavelo
