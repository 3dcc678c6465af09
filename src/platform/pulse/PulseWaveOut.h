#pragma once

#include "voice/GsmCodec.h"
#include "voice/PlayoutBuffer.h"
#include "platform/pulse/PulseStream.h"

#include <deque>
#include <string>
#include <vector>

namespace kavelo {

// A wave-output device on a PulseAudio sink. A device whose server goes away
// returns its buffers and refuses new ones (2).
//
// PCM (the ring sound): written buffers wait in the device's own queue and go
// to the server only as fast as it plays, so the server holds just the short
// latency target; a buffer is done (MM_WOM_DONE) once all its sound has been
// handed over.
//
// GSM 6.10 (a call's voice): each buffer is decoded as it is written (whole
// 65-byte blocks only, through one decoder state for the life of the device)
// into a playout buffer, and is done at once. The server is fed from the
// playout buffer whenever it asks, so voice that arrives early, late, in a
// burst or not at all becomes continuous sound of bounded delay.
class PulseWaveOut final : public PulseStream<WaveOutDevice> {
public:
    // `sink` empty: the server's default sink (device 0).
    static MMRESULT open(std::unique_ptr<WaveOutDevice>& device, const WaveFormat& format,
                         std::shared_ptr<NotificationTarget> notify, const std::string& server,
                         const std::string& sink);
    ~PulseWaveOut() override;

    MMRESULT write(WaveHeader& header) override;
    MMRESULT reset() override;

private:
    struct Queued {
        WaveHeader* header;
        std::vector<std::uint8_t> sound; // what the server gets for this buffer
        std::size_t handedOver = 0;
    };

    friend class PulseStream<WaveOutDevice>;
    PulseWaveOut(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify);

    MMRESULT setUp(const PulseStreamFormat& format) override;
    int connectStream(const pa_sample_spec& spec, const char* sink) override;
    void onStreamBytes() override { playout_ ? playOut() : handOver(); }
    // What waited for the server's answer goes out now.
    void onStreamReady() override { onStreamBytes(); }
    void onStreamLost() override;
    void releaseQueued() override;

    MMRESULT writeVoice(WaveHeader& header);
    std::vector<std::uint8_t> bytesOf(const WaveHeader& header) const;
    std::vector<std::int16_t> decode(const WaveHeader& header);
    // With the loop lock held.
    void handOver();
    void playOut();
    void returnFront();

    // Only for GSM 6.10. The decoder is used by write() alone, which the owner
    // does not call concurrently; the playout buffer under the loop lock.
    std::unique_ptr<GsmCodec> gsm_;
    std::unique_ptr<PlayoutBuffer> playout_;
    std::vector<std::int16_t> pulled_;
    std::deque<Queued> queue_;
};

} // namespace kavelo
