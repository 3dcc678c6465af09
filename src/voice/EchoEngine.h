#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace kavelo {

// The signal processing of a call's microphone, one 10 ms frame at a time at
// 8 kHz: echo cancellation against what the speaker played, noise suppression
// and automatic level control. The caller aligns the two streams: the
// reference frame given with a microphone frame is what the speaker played at
// the moment that frame was recorded, or a little later (an echo always comes
// after its sound, so the engine's filter only looks back from there).
//
// Not thread-safe.
class EchoEngine {
public:
    static constexpr int kRate = 8000;
    static constexpr std::size_t kFrameSamples = 80;
    using Frame = std::span<std::int16_t, kFrameSamples>;
    using ConstFrame = std::span<const std::int16_t, kFrameSamples>;

    virtual ~EchoEngine() = default;
    // Cleans `microphone` in place. Without `cancelEcho` the reference is
    // ignored (a headset hears no speaker); noise and level are still seen to.
    virtual void process(ConstFrame reference, Frame microphone, bool cancelEcho) = 0;
};

// The engine calls use. Throws std::runtime_error when the library refuses
// to start.
std::unique_ptr<EchoEngine> makeWebRtcEchoEngine();

} // namespace kavelo
