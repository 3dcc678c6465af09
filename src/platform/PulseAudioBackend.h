#pragma once

#include "platform/AudioDevice.h"

namespace kavelo {

// Device 0 = the PulseAudio server's default source and default sink.
std::shared_ptr<AudioBackend> makePulseAudioBackend();

} // namespace kavelo
