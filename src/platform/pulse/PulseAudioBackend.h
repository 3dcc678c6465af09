#pragma once

#include "platform/AudioDevice.h"

#include <string>

namespace kavelo {

// Where the PulseAudio backend's devices live. Empty names mean what the
// environment and the server choose: PULSE_SERVER, the default source and the
// default sink, i.e. device 0. Tests and benchmarks name the devices of a
// private server to feed its virtual microphone and listen to its speaker.
struct PulseEndpoints {
    std::string server;
    std::string source;
    std::string sink;
    // Whether the call's microphone goes through the echo path (echo, noise,
    // level). Device tests that compare what was recorded with what was fed
    // sample for sample record it as it is.
    bool cleanMicrophone = true;
};

std::shared_ptr<AudioBackend> makePulseAudioBackend(PulseEndpoints endpoints = {});

} // namespace kavelo
