#pragma once

#include "platform/pulse/EchoPath.h"
#include "platform/pulse/PulseStream.h"
#include "voice/VoicePlayout.h"

#include <memory>
#include <string>
#include <vector>

namespace kavelo {

// A wave-output device for a call's voice (GSM 6.10 in 65-byte blocks) on a
// PulseAudio sink. Each written buffer goes into the voice playout as it
// arrives and is done at once; the server is fed from the playout whenever it
// asks, so how the sound is kept continuous is the playout's business alone.
// What goes to the server is reported to the call's echo path with the moment
// it will be heard. A device whose server goes away refuses new buffers.
class PulseVoiceOutput final : public PulseStream<WaveOutDevice> {
public:
    // `sink` empty: the server's default sink (device 0). `echo` may be null.
    static MMRESULT open(std::unique_ptr<WaveOutDevice>& device, const PulseStreamFormat& format,
                         std::shared_ptr<NotificationTarget> notify, const std::string& server,
                         const std::string& sink, std::shared_ptr<EchoPath> echo);
    ~PulseVoiceOutput() override;

    MMRESULT write(WaveHeader& header) override;
    MMRESULT reset() override;

private:
    friend class PulseStream<WaveOutDevice>;
    PulseVoiceOutput(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify,
                     std::shared_ptr<EchoPath> echo);

    MMRESULT setUp(const PulseStreamFormat& format) override;
    int connectStream(const pa_sample_spec& spec, const char* sink) override;
    void onStreamBytes() override { playOut(); }
    void onStreamReady() override { playOut(); }
    // Nothing waits at the device: every buffer was given back when written.
    void onStreamLost() override {}
    void releaseQueued() override {}

    // With the loop lock held.
    void playOut();
    // With the loop lock held, right after `pulled_` went to the server.
    void reportPlayed();

    // Under the loop lock: written by write(), read by the server's requests.
    std::unique_ptr<VoicePlayout> playout_;
    std::vector<std::int16_t> pulled_;
    const std::shared_ptr<EchoPath> echo_;
};

} // namespace kavelo
