#include "voice/VoicePlayout.h"

namespace kavelo {

void VoicePlayout::receive(std::span<const std::uint8_t> datagram, double arrivalMs)
{
    const std::size_t blocks = datagram.size() / GsmCodec::kBlockBytes;
    decoded_.resize(blocks * GsmCodec::kBlockSamples);
    for (std::size_t i = 0; i < blocks; ++i)
        decoder_.decodeBlock(datagram.subspan(i * GsmCodec::kBlockBytes).first<GsmCodec::kBlockBytes>(),
                             std::span(decoded_).subspan(i * GsmCodec::kBlockSamples).first<GsmCodec::kBlockSamples>());
    playout_->push(decoded_, arrivalMs);
}

void VoicePlayout::pull(std::span<std::int16_t> out)
{
    playout_->pull(out);
}

void VoicePlayout::reset()
{
    playout_ = std::make_unique<PlayoutBuffer>();
}

} // namespace kavelo
