#include "platform/pulse/PulseWaveOut.h"

#include <pulse/stream.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace kavelo {
namespace {

// What the server holds ahead of the speaker while sound streams in: enough
// for the loop's thread to be late now and then on a busy machine without the
// speaker running dry, little enough that a talker is heard 60-100 ms after
// the sound arrives. A buffer that starts after a pause is heard at once.
constexpr pa_usec_t kTargetLatencyUsec = 80'000;
// Refills of a quarter of the target. The server splits the target between the
// sink's own period and a reserve of two refills, so this leaves the sink a
// 20 ms period: refills of half the target left it none, and the sink then ran
// at its shortest period (half a millisecond on a null sink, a tenth of a core).
constexpr pa_usec_t kRequestUsec = 20'000;
// Voice: the playout buffer already keeps a reserve sized to the network's
// jitter, so the server needs only enough to ride out a late loop thread.
// The sink's period is then 20 ms.
constexpr pa_usec_t kVoiceTargetLatencyUsec = 40'000;
constexpr pa_usec_t kVoiceRequestUsec = 10'000;

double nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

MMRESULT PulseWaveOut::open(std::unique_ptr<WaveOutDevice>& device, const WaveFormat& format,
                            std::shared_ptr<NotificationTarget> notify, const std::string& server,
                            const std::string& sink)
{
    // Voice is a call's; plain PCM is the ring sound.
    const std::optional<PulseStreamFormat> playback = playbackFormat(format);
    return openDevice<PulseWaveOut>(device, playback, playback && playback->gsm ? kCall : kRing, std::move(notify),
                                    server, sink);
}

PulseWaveOut::PulseWaveOut(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify)
    : PulseStream(std::move(pulse), std::move(notify))
{
}

PulseWaveOut::~PulseWaveOut()
{
    close();
}

MMRESULT PulseWaveOut::setUp(const PulseStreamFormat& format)
{
    try {
        if (format.gsm) {
            gsm_ = std::make_unique<GsmCodec>();
            playout_ = std::make_unique<PlayoutBuffer>();
        }
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
    return MMSYSERR_NOERROR;
}

int PulseWaveOut::connectStream(const pa_sample_spec& spec, const char* sink)
{
    pa_buffer_attr attr;
    std::memset(&attr, 0xFF, sizeof attr); // the server's choice where not set below
    attr.tlength = static_cast<std::uint32_t>(
        pa_usec_to_bytes(playout_ ? kVoiceTargetLatencyUsec : kTargetLatencyUsec, &spec));
    attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(playout_ ? kVoiceRequestUsec : kRequestUsec, &spec));
    // Play as soon as anything is there, and after running dry wait for more
    // instead of skipping ahead: a late buffer plays late but whole.
    attr.prebuf = static_cast<std::uint32_t>(pa_frame_size(&spec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY);
    return pa_stream_connect_playback(stream_, sink, &attr, flags, nullptr, nullptr);
}

MMRESULT PulseWaveOut::write(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    if (playout_)
        return writeVoice(header);
    {
        PulseLock lock(*pulse_);
        if (const MMRESULT refusal = refusalToQueue(header))
            return refusal;
    }
    // Copying needs no lock: the header is the caller's until queued.
    std::vector<std::uint8_t> sound;
    try {
        sound = bytesOf(header);
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
    PulseLock lock(*pulse_);
    // The stream may have gone while the bytes were copied.
    if (const MMRESULT refusal = refusalToQueue(header))
        return refusal;
    header.dwFlags = (header.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    queue_.push_back({&header, std::move(sound)});
    handOver();
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveOut::writeVoice(WaveHeader& header)
{
    {
        PulseLock lock(*pulse_);
        if (const MMRESULT refusal = refusalToQueue(header))
            return refusal;
    }
    // Decoding needs no lock: the decoder is write()'s own, the header the caller's.
    std::vector<std::int16_t> sound;
    try {
        sound = decode(header);
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
    const double arrivalMs = nowMs();
    PulseLock lock(*pulse_);
    if (const MMRESULT refusal = refusalToQueue(header))
        return refusal;
    try {
        playout_->push(sound, arrivalMs);
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
    // Its sound is in the playout buffer: the buffer is the owner's again.
    giveBack(header);
    playOut();
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveOut::reset()
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    // Drops what the server still holds; nothing here waits for the server.
    if (usable())
        dropOperation(pa_stream_flush(stream_, nullptr, nullptr));
    while (!queue_.empty())
        returnFront();
    if (playout_) {
        try {
            playout_ = std::make_unique<PlayoutBuffer>();
        } catch (const std::bad_alloc&) {
            return MMSYSERR_NOMEM;
        }
    }
    return MMSYSERR_NOERROR;
}

void PulseWaveOut::onStreamLost()
{
    // What the lost device still held will never play. Those buffers come
    // back as done; the next write is refused.
    while (!queue_.empty())
        returnFront();
}

void PulseWaveOut::releaseQueued()
{
    // Buffers still queued are the caller's again; no message reports them.
    for (Queued& queued : queue_)
        queued.header->dwFlags &= ~WHDR_INQUEUE;
    queue_.clear();
}

std::vector<std::uint8_t> PulseWaveOut::bytesOf(const WaveHeader& header) const
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(header.lpData);
    return {bytes, bytes + header.dwBufferLength};
}

std::vector<std::int16_t> PulseWaveOut::decode(const WaveHeader& header)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(header.lpData);
    // Bytes after the last whole block cannot be decoded and are dropped.
    const std::size_t blocks = header.dwBufferLength / GsmCodec::kBlockBytes;
    std::vector<std::int16_t> sound(blocks * GsmCodec::kBlockSamples);
    for (std::size_t i = 0; i < blocks; ++i)
        gsm_->decodeBlock(std::span<const std::uint8_t, GsmCodec::kBlockBytes>(bytes + i * GsmCodec::kBlockBytes,
                                                                              GsmCodec::kBlockBytes),
                          std::span<std::int16_t, GsmCodec::kBlockSamples>(sound.data() + i * GsmCodec::kBlockSamples,
                                                                          GsmCodec::kBlockSamples));
    return sound;
}

void PulseWaveOut::handOver()
{
    if (!usable())
        return;
    std::size_t writable = pa_stream_writable_size(stream_);
    if (writable == static_cast<std::size_t>(-1))
        return;
    while (!queue_.empty()) {
        Queued& front = queue_.front();
        const std::size_t left = front.sound.size() - front.handedOver;
        if (left > 0) {
            const std::size_t count = std::min(left, writable);
            if (count == 0)
                return;
            // The server copies the bytes; the buffer itself is never read here.
            if (pa_stream_write(stream_, front.sound.data() + front.handedOver, count, nullptr, 0,
                                PA_SEEK_RELATIVE)
                < 0)
                return;
            front.handedOver += count;
            writable -= count;
            if (count < left)
                return;
        }
        returnFront();
    }
}

void PulseWaveOut::playOut()
{
    if (!usable())
        return;
    const std::size_t writable = pa_stream_writable_size(stream_);
    if (writable == static_cast<std::size_t>(-1) || writable < sizeof(std::int16_t))
        return;
    // The playout buffer always has sound to give: voice, concealment or
    // comfort noise. The server copies it; samples are in the host's order,
    // which is the stream's little-endian format.
    pulled_.resize(writable / sizeof(std::int16_t));
    playout_->pull(pulled_);
    pa_stream_write(stream_, pulled_.data(), pulled_.size() * sizeof(std::int16_t), nullptr, 0, PA_SEEK_RELATIVE);
}

void PulseWaveOut::returnFront()
{
    WaveHeader* header = queue_.front().header;
    queue_.pop_front();
    giveBack(*header);
}

} // namespace kavelo
