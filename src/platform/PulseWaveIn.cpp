#include "platform/PulseWaveIn.h"

#include "platform/PulseFormat.h"

#include <pulse/context.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <cstring>

namespace kavelo {
namespace {

constexpr auto kOpenTimeout = std::chrono::seconds(3);
// The source is asked to hand over what it records at least this often. Without
// a request of our own a microphone nobody else records from runs at its longest
// period (up to two seconds), and a call would go out in bursts of buffers.
// A buffer is complete at most one piece after its last sound was recorded.
constexpr pa_usec_t kPieceUsec = 50'000;

void dropOperation(pa_operation* operation)
{
    if (operation != nullptr)
        pa_operation_unref(operation);
}

} // namespace

MMRESULT PulseWaveIn::open(std::unique_ptr<WaveInDevice>& device, const WaveFormat& format,
                           std::shared_ptr<NotificationTarget> notify, const std::string& server,
                           const std::string& source)
{
    const auto streamFormat = captureFormat(format);
    if (!streamFormat)
        return WAVERR_BADFORMAT;
    const auto deadline = PulseConnection::Clock::now() + kOpenTimeout;
    std::unique_ptr<PulseConnection> pulse;
    if (const MMRESULT result = PulseConnection::open(pulse, server, deadline))
        return result;

    std::unique_ptr<PulseWaveIn> in(new PulseWaveIn(std::move(pulse), std::move(notify)));
    const pa_sample_spec& spec = streamFormat->spec;
    in->frameBytes_ = pa_frame_size(&spec);
    in->silence_ = spec.format == PA_SAMPLE_U8 ? 0x80 : 0;

    PulseLock lock(*in->pulse_);
    pa_context* context = in->pulse_->context();
    in->stream_ = pa_stream_new(context, "Kavelo capture", &spec, nullptr);
    if (in->stream_ == nullptr)
        return pa_context_errno(context) == PA_ERR_INVALID ? WAVERR_BADFORMAT : MMSYSERR_NOMEM;
    pa_stream_set_state_callback(in->stream_, onStreamState, in.get());
    pa_stream_set_read_callback(in->stream_, onRead, in.get());

    pa_buffer_attr attr;
    std::memset(&attr, 0xFF, sizeof attr); // every field the server's choice...
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kPieceUsec, &spec)); // ...but this one
    // Corked until start(): nothing is recorded before the buffers are queued.
    // A source the user has suspended would never deliver a byte: the open is
    // refused instead, and a suspension later ends the stream (the device is
    // lost). A source merely idle is woken by the server as the stream connects.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_FAIL_ON_SUSPEND
                                                      | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(in->stream_, source.empty() ? nullptr : source.c_str(), &attr, flags) < 0)
        return resultFromPulseError(pa_context_errno(context));
    pa_stream* stream = in->stream_;
    const bool settled = in->pulse_->waitUntil(
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        deadline);
    if (!settled)
        return MMSYSERR_ALLOCATED;
    if (pa_stream_get_state(stream) != PA_STREAM_READY)
        return resultFromPulseError(pa_context_errno(context));
    device = std::move(in);
    return MMSYSERR_NOERROR;
}

PulseWaveIn::PulseWaveIn(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify)
    : pulse_(std::move(pulse)), notify_(std::move(notify)), id_(nextPulseDeviceId())
{
}

PulseWaveIn::~PulseWaveIn()
{
    close();
}

MMRESULT PulseWaveIn::prepareHeader(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    header.dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveIn::unprepareHeader(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    if (header.dwFlags & WHDR_INQUEUE)
        return kWaveErrStillPlaying;
    header.dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveIn::addBuffer(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    if (!(header.dwFlags & WHDR_PREPARED))
        return kWaveErrUnprepared;
    if (header.dwFlags & WHDR_INQUEUE)
        return kWaveErrStillPlaying;
    if (!usable())
        return MMSYSERR_BADDEVICEID;
    header.dwFlags = (header.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header.dwBytesRecorded = 0;
    queue_.push_back(&header);
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveIn::start()
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    if (!usable())
        return MMSYSERR_BADDEVICEID;
    if (recording_)
        return MMSYSERR_NOERROR;
    dropOperation(pa_stream_cork(stream_, 0, nullptr, nullptr));
    recording_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveIn::reset()
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    // Nothing here waits for the server: the stop is only requested, and bytes
    // that still arrive before it takes effect are dropped.
    if (recording_ && usable()) {
        dropOperation(pa_stream_cork(stream_, 1, nullptr, nullptr));
        dropOperation(pa_stream_flush(stream_, nullptr, nullptr));
    }
    recording_ = false;
    while (!queue_.empty())
        returnFront();
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveIn::close()
{
    if (!pulse_)
        return MMSYSERR_NOERROR;
    {
        PulseLock lock(*pulse_);
        recording_ = false;
        // Buffers still queued are the component's again; no message reports them.
        for (WaveHeader* header : queue_)
            header->dwFlags &= ~WHDR_INQUEUE;
        queue_.clear();
        if (stream_ != nullptr) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
    }
    pulse_.reset();
    return MMSYSERR_NOERROR;
}

void PulseWaveIn::onStreamState(pa_stream* stream, void* self)
{
    auto* in = static_cast<PulseWaveIn*>(self);
    // The server went away or dropped the stream: the device is lost. Its
    // buffers come back as done, so that the owner learns of the loss when it
    // puts one back, instead of waiting for sound that never comes.
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        in->recording_ = false;
        while (!in->queue_.empty())
            in->returnFront();
    }
    in->pulse_->signal();
}

void PulseWaveIn::onRead(pa_stream*, std::size_t, void* self)
{
    static_cast<PulseWaveIn*>(self)->takeRecorded();
}

void PulseWaveIn::takeRecorded()
{
    const void* data = nullptr;
    std::size_t size = 0;
    while (pa_stream_readable_size(stream_) > 0) {
        if (pa_stream_peek(stream_, &data, &size) < 0 || size == 0)
            return;
        if (recording_)
            record(static_cast<const std::uint8_t*>(data), size);
        pa_stream_drop(stream_);
    }
}

void PulseWaveIn::record(const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0 && !queue_.empty()) {
        WaveHeader& header = *queue_.front();
        const std::size_t whole = header.dwBufferLength - header.dwBufferLength % frameBytes_;
        const std::size_t room = whole - std::min<std::size_t>(header.dwBytesRecorded, whole);
        const std::size_t count = std::min(room, size);
        char* at = header.lpData + header.dwBytesRecorded;
        // A hole in the recording (no bytes from the server) is kept as silence.
        if (bytes != nullptr)
            std::memcpy(at, bytes, count);
        else
            std::memset(at, silence_, count);
        header.dwBytesRecorded += static_cast<std::uint32_t>(count);
        size -= count;
        if (bytes != nullptr)
            bytes += count;
        if (header.dwBytesRecorded >= whole)
            returnFront();
    }
    // With no buffer queued the sound is lost, as on any wave device.
}

void PulseWaveIn::returnFront()
{
    WaveHeader* header = queue_.front();
    queue_.pop_front();
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    notify_->post({kMmWimData, id_, reinterpret_cast<qintptr>(header)});
}

bool PulseWaveIn::usable() const
{
    return pulse_->alive() && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

} // namespace kavelo
