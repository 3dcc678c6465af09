#include "platform/PulseWaveOut.h"

#include "platform/PulseFormat.h"

#include <pulse/context.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace kavelo {
namespace {

constexpr auto kOpenTimeout = std::chrono::seconds(3);
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

void dropOperation(pa_operation* operation)
{
    if (operation != nullptr)
        pa_operation_unref(operation);
}

} // namespace

MMRESULT PulseWaveOut::open(std::unique_ptr<WaveOutDevice>& device, const WaveFormat& format,
                            std::shared_ptr<NotificationTarget> notify, const std::string& server,
                            const std::string& sink)
{
    const auto streamFormat = playbackFormat(format);
    if (!streamFormat)
        return WAVERR_BADFORMAT;
    const auto deadline = PulseConnection::Clock::now() + kOpenTimeout;
    std::unique_ptr<PulseConnection> pulse;
    if (const MMRESULT result = PulseConnection::open(pulse, server, deadline))
        return result;

    std::unique_ptr<PulseWaveOut> out(new PulseWaveOut(std::move(pulse), std::move(notify)));
    try {
        if (streamFormat->gsm)
            out->gsm_ = std::make_unique<GsmCodec>();
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
    const pa_sample_spec& spec = streamFormat->spec;

    PulseLock lock(*out->pulse_);
    pa_context* context = out->pulse_->context();
    out->stream_ = pa_stream_new(context, "Kavelo playback", &spec, nullptr);
    if (out->stream_ == nullptr)
        return pa_context_errno(context) == PA_ERR_INVALID ? WAVERR_BADFORMAT : MMSYSERR_NOMEM;
    pa_stream_set_state_callback(out->stream_, onStreamState, out.get());
    pa_stream_set_write_callback(out->stream_, onWritable, out.get());

    pa_buffer_attr attr;
    std::memset(&attr, 0xFF, sizeof attr); // the server's choice where not set below
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetLatencyUsec, &spec));
    attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRequestUsec, &spec));
    // Play as soon as anything is there, and after running dry wait for more
    // instead of skipping ahead: a late buffer plays late but whole.
    attr.prebuf = static_cast<std::uint32_t>(pa_frame_size(&spec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(out->stream_, sink.empty() ? nullptr : sink.c_str(), &attr, flags, nullptr,
                                   nullptr)
        < 0)
        return resultFromPulseError(pa_context_errno(context));
    pa_stream* stream = out->stream_;
    const bool settled = out->pulse_->waitUntil(
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        deadline);
    if (!settled)
        return MMSYSERR_ALLOCATED;
    if (pa_stream_get_state(stream) != PA_STREAM_READY)
        return resultFromPulseError(pa_context_errno(context));
    device = std::move(out);
    return MMSYSERR_NOERROR;
}

PulseWaveOut::PulseWaveOut(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify)
    : pulse_(std::move(pulse)), notify_(std::move(notify)), id_(nextPulseDeviceId())
{
}

PulseWaveOut::~PulseWaveOut()
{
    close();
}

MMRESULT PulseWaveOut::prepareHeader(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    header.dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveOut::unprepareHeader(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    if (header.dwFlags & WHDR_INQUEUE)
        return kWaveErrStillPlaying;
    header.dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveOut::write(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    {
        PulseLock lock(*pulse_);
        if (!(header.dwFlags & WHDR_PREPARED))
            return kWaveErrUnprepared;
        if (header.dwFlags & WHDR_INQUEUE)
            return kWaveErrStillPlaying;
        if (!usable())
            return MMSYSERR_BADDEVICEID;
    }
    // Decoding and copying need no lock: the header is the caller's until queued.
    std::vector<std::uint8_t> sound;
    try {
        sound = soundOf(header);
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
    PulseLock lock(*pulse_);
    header.dwFlags = (header.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    queue_.push_back({&header, std::move(sound)});
    handOver();
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
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveOut::close()
{
    if (!pulse_)
        return MMSYSERR_NOERROR;
    {
        PulseLock lock(*pulse_);
        // Buffers still queued are the caller's again; no message reports them.
        for (Queued& queued : queue_)
            queued.header->dwFlags &= ~WHDR_INQUEUE;
        queue_.clear();
        if (stream_ != nullptr) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
    }
    pulse_.reset();
    return MMSYSERR_NOERROR;
}

void PulseWaveOut::onStreamState(pa_stream* stream, void* self)
{
    auto* out = static_cast<PulseWaveOut*>(self);
    // The server went away or dropped the stream: the device is lost and what
    // it still held will never play. Those buffers come back as done; the next
    // write is refused.
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        while (!out->queue_.empty())
            out->returnFront();
    }
    out->pulse_->signal();
}

void PulseWaveOut::onWritable(pa_stream*, std::size_t, void* self)
{
    static_cast<PulseWaveOut*>(self)->handOver();
}

std::vector<std::uint8_t> PulseWaveOut::soundOf(const WaveHeader& header)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(header.lpData);
    if (!gsm_)
        return {bytes, bytes + header.dwBufferLength};
    // Bytes after the last whole block cannot be decoded and are dropped.
    const std::size_t blocks = header.dwBufferLength / GsmCodec::kBlockBytes;
    std::vector<std::uint8_t> sound(blocks * GsmCodec::kBlockSamples * sizeof(std::int16_t));
    std::array<std::int16_t, GsmCodec::kBlockSamples> pcm;
    for (std::size_t i = 0; i < blocks; ++i) {
        gsm_->decodeBlock(std::span<const std::uint8_t, GsmCodec::kBlockBytes>(
                              bytes + i * GsmCodec::kBlockBytes, GsmCodec::kBlockBytes),
                          pcm);
        // The stream runs in little-endian samples, the host's own order.
        std::memcpy(sound.data() + i * sizeof pcm, pcm.data(), sizeof pcm);
    }
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

void PulseWaveOut::returnFront()
{
    WaveHeader* header = queue_.front().header;
    queue_.pop_front();
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    notify_->post({kMmWomDone, id_, reinterpret_cast<qintptr>(header)});
}

bool PulseWaveOut::usable() const
{
    return pulse_->alive() && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

} // namespace kavelo
