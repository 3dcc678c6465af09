#pragma once

#include "platform/pulse/EchoPath.h"
#include "platform/pulse/PulseStream.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace kavelo {

// A wave-input device on a PulseAudio source. The server converts to the
// requested PCM format; the loop's thread copies the recorded bytes into the
// queued headers in order and posts MM_WIM_DATA for each one it fills. The
// source is asked for pieces of 40 ms, so a buffer comes back at most that
// long after the sound that fills it has been recorded. A device
// whose server goes away returns its buffers and refuses new ones (2).
//
// A call's microphone (8 kHz mono, 8 or 16-bit) is recorded as 16-bit and
// goes through the call's echo path (the speaker's echo, noise and level
// seen to) before it is put in the buffers in the format asked for.
class PulseWaveIn final : public PulseStream<WaveInDevice> {
public:
    // `source` empty: the server's default source (device 0). `echo` may be
    // null; it is used only for a format it takes.
    static MMRESULT open(std::unique_ptr<WaveInDevice>& device, const WaveFormat& format,
                         std::shared_ptr<NotificationTarget> notify, const std::string& server,
                         const std::string& source, std::shared_ptr<EchoPath> echo);
    ~PulseWaveIn() override;

    MMRESULT addBuffer(WaveHeader& header) override;
    MMRESULT start() override;
    MMRESULT reset() override;

private:
    friend class PulseStream<WaveInDevice>;
    PulseWaveIn(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify,
                std::shared_ptr<EchoPath> echo, pa_sample_format_t delivered);

    MMRESULT setUp(const PulseStreamFormat& format) override;
    int connectStream(const pa_sample_spec& spec, const char* source) override;
    void onStreamBytes() override { takeRecorded(); }
    void onStreamReady() override;
    void onStreamLost() override;
    void releaseQueued() override;

    // The rest of these run with the loop lock held.
    void takeRecorded();
    // `size` bytes of the stream (nullptr: a hole) recorded from `firstMs` on
    // (nothing: not known yet).
    void clean(const std::uint8_t* bytes, std::size_t size, std::optional<double> firstMs);
    void record(const std::uint8_t* bytes, std::size_t size);
    void returnFront();

    std::size_t frameBytes_ = 1;
    std::uint8_t silence_ = 0;
    std::deque<WaveHeader*> queue_;
    bool recording_ = false;

    // Null unless the stream runs in 16-bit for the echo path; the buffers
    // then take `delivered_`.
    const std::shared_ptr<EchoPath> echo_;
    const pa_sample_format_t delivered_;
    std::vector<std::int16_t> recorded_;
    std::vector<std::int16_t> cleaned_;
    std::vector<std::uint8_t> deliveredBytes_;
};

} // namespace kavelo
