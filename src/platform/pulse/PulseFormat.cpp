#include "platform/pulse/PulseFormat.h"

#include "voice/GsmCodec.h"

namespace kavelo {
namespace {

constexpr std::uint16_t kWaveFormatIeeeFloat = 3;

std::optional<pa_sample_format_t> sampleFormat(std::uint16_t tag, std::uint16_t bits)
{
    if (tag == kWaveFormatPcm) {
        switch (bits) {
        case 8: return PA_SAMPLE_U8;
        case 16: return PA_SAMPLE_S16LE;
        case 24: return PA_SAMPLE_S24LE;
        case 32: return PA_SAMPLE_S32LE;
        default: return std::nullopt;
        }
    }
    if (tag == kWaveFormatIeeeFloat && bits == 32)
        return PA_SAMPLE_FLOAT32LE;
    return std::nullopt;
}

} // namespace

std::optional<PulseStreamFormat> captureFormat(const WaveFormat& format)
{
    const auto sample = sampleFormat(format.formatTag(), format.bitsPerSample());
    if (!sample)
        return std::nullopt;
    PulseStreamFormat result;
    result.spec.format = *sample;
    result.spec.rate = format.samplesPerSec();
    result.spec.channels = static_cast<std::uint8_t>(format.channels());
    // The record must describe whole frames the way the server lays them out.
    if (format.channels() > PA_CHANNELS_MAX || !pa_sample_spec_valid(&result.spec)
        || format.blockAlign() != pa_frame_size(&result.spec))
        return std::nullopt;
    return result;
}

std::optional<PulseStreamFormat> playbackFormat(const WaveFormat& format)
{
    if (format.formatTag() != kWaveFormatGsm610)
        return captureFormat(format);
    const bool blocksOf320 = format.extraSize() < 2 || format.extraU16(0) == GsmCodec::kBlockSamples;
    if (format.channels() != 1 || format.blockAlign() != GsmCodec::kBlockBytes || !blocksOf320)
        return std::nullopt;
    PulseStreamFormat result;
    result.gsm = true;
    result.spec.format = PA_SAMPLE_S16LE;
    result.spec.rate = format.samplesPerSec();
    result.spec.channels = 1;
    if (!pa_sample_spec_valid(&result.spec))
        return std::nullopt;
    return result;
}

} // namespace kavelo
