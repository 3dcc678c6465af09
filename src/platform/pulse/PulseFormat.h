#pragma once

#include "platform/WaveFormat.h"

#include <pulse/sample.h>

#include <optional>

namespace kavelo {

// How a wave format record reaches the sound server: the sample format the
// stream runs in, and whether the bytes the program hands over are GSM 6.10
// blocks that the device decodes to 16-bit samples on the way.
struct PulseStreamFormat {
    pa_sample_spec spec{};
    bool gsm = false;
};

// Linear PCM as the capture side records it; nothing for formats it cannot record.
std::optional<PulseStreamFormat> captureFormat(const WaveFormat& format);

// Linear PCM, or GSM 6.10 in 65-byte blocks of 320 samples (mono); nothing
// for formats it cannot play.
std::optional<PulseStreamFormat> playbackFormat(const WaveFormat& format);

} // namespace kavelo
