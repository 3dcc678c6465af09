#pragma once

#include "platform/pulse/PulseStream.h"

#include <deque>
#include <string>
#include <vector>

namespace kavelo {

// A wave-output device for linear PCM on a PulseAudio sink: what the ring
// sound plays through. Written buffers wait in the device's own queue and go
// to the server only as fast as it plays, so the server holds just the short
// latency target; a buffer is done (MM_WOM_DONE) once all its sound has been
// handed over. A device whose server goes away returns its buffers and
// refuses new ones.
class PulsePcmOutput final : public PulseStream<WaveOutDevice> {
public:
    // `sink` empty: the server's default sink (device 0).
    static MMRESULT open(std::unique_ptr<WaveOutDevice>& device, const PulseStreamFormat& format,
                         std::shared_ptr<NotificationTarget> notify, const std::string& server,
                         const std::string& sink);
    ~PulsePcmOutput() override;

    MMRESULT write(WaveHeader& header) override;
    MMRESULT reset() override;

private:
    struct Queued {
        WaveHeader* header;
        std::vector<std::uint8_t> sound; // what the server gets for this buffer
        std::size_t handedOver = 0;
    };

    friend class PulseStream<WaveOutDevice>;
    PulsePcmOutput(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify);

    MMRESULT setUp(const PulseStreamFormat&) override { return MMSYSERR_NOERROR; }
    int connectStream(const pa_sample_spec& spec, const char* sink) override;
    void onStreamBytes() override { handOver(); }
    // What waited for the server's answer goes out now.
    void onStreamReady() override { handOver(); }
    void onStreamLost() override;
    void releaseQueued() override;

    // With the loop lock held.
    void handOver();
    void returnFront();

    std::deque<Queued> queue_;
};

} // namespace kavelo
