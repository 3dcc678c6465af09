#include "platform/pulse/PulseVoiceOutput.h"

#include "platform/pulse/PlaybackStream.h"

#include <pulse/stream.h>

#include <chrono>
#include <new>

namespace kavelo {
namespace {

// The playout already keeps a reserve sized to the network's jitter, so the
// server needs only enough to ride out a late loop thread. The sink's period
// is then 20 ms.
constexpr pa_usec_t kTargetLatencyUsec = 40'000;
constexpr pa_usec_t kRequestUsec = 10'000;

double nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

MMRESULT PulseVoiceOutput::open(std::unique_ptr<WaveOutDevice>& device, const PulseStreamFormat& format,
                                std::shared_ptr<NotificationTarget> notify, const std::string& server,
                                const std::string& sink, std::shared_ptr<EchoPath> echo)
{
    return openDevice<PulseVoiceOutput>(device, format, kCall, std::move(notify), server, sink, std::move(echo));
}

PulseVoiceOutput::PulseVoiceOutput(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify,
                                   std::shared_ptr<EchoPath> echo)
    : PulseStream(std::move(pulse), std::move(notify)), echo_(std::move(echo))
{
}

PulseVoiceOutput::~PulseVoiceOutput()
{
    close();
}

MMRESULT PulseVoiceOutput::setUp(const PulseStreamFormat&)
{
    try {
        playout_ = std::make_unique<VoicePlayout>();
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
    return MMSYSERR_NOERROR;
}

int PulseVoiceOutput::connectStream(const pa_sample_spec& spec, const char* sink)
{
    return connectPlaybackStream(stream_, spec, sink, kTargetLatencyUsec, kRequestUsec);
}

MMRESULT PulseVoiceOutput::write(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    const double arrivalMs = nowMs();
    PulseLock lock(*pulse_);
    if (const MMRESULT refusal = refusalToQueue(header))
        return refusal;
    try {
        playout_->receive({reinterpret_cast<const std::uint8_t*>(header.lpData), header.dwBufferLength}, arrivalMs);
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
    // Its sound is in the playout: the buffer is the owner's again.
    giveBack(header);
    playOut();
    return MMSYSERR_NOERROR;
}

MMRESULT PulseVoiceOutput::reset()
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    // Drops what the server still holds; nothing here waits for the server.
    if (usable())
        dropOperation(pa_stream_flush(stream_, nullptr, nullptr));
    try {
        playout_->reset();
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
    return MMSYSERR_NOERROR;
}

void PulseVoiceOutput::playOut()
{
    if (!usable())
        return;
    const std::size_t writable = pa_stream_writable_size(stream_);
    if (writable == static_cast<std::size_t>(-1) || writable < sizeof(std::int16_t))
        return;
    // The server copies the sound; samples are in the host's order, which is
    // the stream's little-endian format.
    pulled_.resize(writable / sizeof(std::int16_t));
    playout_->pull(pulled_);
    if (pa_stream_write(stream_, pulled_.data(), pulled_.size() * sizeof(std::int16_t), nullptr, 0, PA_SEEK_RELATIVE) == 0)
        reportPlayed();
}

void PulseVoiceOutput::reportPlayed()
{
    if (!echo_)
        return;
    // The server's latency is how long the last sample written waits to be
    // heard; it is not known before the server's first timing report.
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &latency, &negative) < 0) {
        echo_->played(pulled_, std::nullopt);
        return;
    }
    if (negative)
        latency = 0;
    const double duration = static_cast<double>(pulled_.size()) / StreamClock::kSamplesPerMs;
    echo_->played(pulled_, nowMs() + static_cast<double>(latency) / 1000.0 - duration);
}

} // namespace kavelo
