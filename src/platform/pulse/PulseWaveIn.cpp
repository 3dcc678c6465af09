#include "platform/pulse/PulseWaveIn.h"

#include <pulse/stream.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace kavelo {
namespace {

// The source is asked to hand over what it records at least this often. Without
// a request of our own a microphone nobody else records from runs at its longest
// period (up to two seconds), and a call would go out in bursts of buffers.
// A buffer is complete at most one piece after its last sound was recorded.
// A call's buffer is one 40 ms GSM block, one piece: each buffer is handed
// over as soon as it is full, at an even pace, so the receiver's playout
// buffer can stay shallow.
constexpr pa_usec_t kPieceUsec = 40'000;

double nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

MMRESULT PulseWaveIn::open(std::unique_ptr<WaveInDevice>& device, const WaveFormat& format,
                           std::shared_ptr<NotificationTarget> notify, const std::string& server,
                           const std::string& source, std::shared_ptr<EchoPath> echo)
{
    std::optional<PulseStreamFormat> stream = captureFormat(format);
    if (!stream || !EchoPath::takes(stream->spec)
        || (stream->spec.format != PA_SAMPLE_U8 && stream->spec.format != PA_SAMPLE_S16LE))
        echo.reset();
    const pa_sample_format_t delivered = stream ? stream->spec.format : PA_SAMPLE_INVALID;
    if (echo)
        stream->spec.format = PA_SAMPLE_S16LE;
    return openDevice<PulseWaveIn>(device, stream, kCall, std::move(notify), server, source, std::move(echo),
                                   delivered);
}

PulseWaveIn::PulseWaveIn(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify,
                         std::shared_ptr<EchoPath> echo, pa_sample_format_t delivered)
    : PulseStream(std::move(pulse), std::move(notify)), echo_(std::move(echo)), delivered_(delivered)
{
}

PulseWaveIn::~PulseWaveIn()
{
    close();
}

MMRESULT PulseWaveIn::setUp(const PulseStreamFormat& format)
{
    pa_sample_spec delivered = format.spec;
    delivered.format = delivered_;
    frameBytes_ = pa_frame_size(&delivered);
    silence_ = delivered_ == PA_SAMPLE_U8 ? 0x80 : 0;
    return MMSYSERR_NOERROR;
}

int PulseWaveIn::connectStream(const pa_sample_spec& spec, const char* source)
{
    pa_buffer_attr attr;
    std::memset(&attr, 0xFF, sizeof attr); // every field the server's choice...
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kPieceUsec, &spec)); // ...but this one
    // Corked until start(): nothing is recorded before the buffers are queued.
    // A source the user has suspended would never deliver a byte: the open is
    // refused instead, and a suspension later ends the stream (the device is
    // lost). A source merely idle is woken by the server as the stream connects.
    // Timing is kept current, so that the stream can say when its sound was recorded.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_FAIL_ON_SUSPEND
                                                      | PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING
                                                      | PA_STREAM_AUTO_TIMING_UPDATE);
    return pa_stream_connect_record(stream_, source, &attr, flags);
}

MMRESULT PulseWaveIn::addBuffer(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    if (const MMRESULT refusal = refusalToQueue(header))
        return refusal;
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
    const Readiness readiness = this->readiness();
    if (readiness == Readiness::Failed)
        return MMSYSERR_BADDEVICEID;
    if (recording_)
        return MMSYSERR_NOERROR;
    // A pending device starts recording once its stream is ready.
    if (readiness == Readiness::Ready)
        dropOperation(pa_stream_cork(stream_, 0, nullptr, nullptr));
    recording_ = true;
    return MMSYSERR_NOERROR;
}

void PulseWaveIn::onStreamReady()
{
    if (recording_)
        dropOperation(pa_stream_cork(stream_, 0, nullptr, nullptr));
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

void PulseWaveIn::onStreamLost()
{
    // The device is lost. Its buffers come back as done, so that the owner
    // learns of the loss when it puts one back, instead of waiting for sound
    // that never comes.
    recording_ = false;
    while (!queue_.empty())
        returnFront();
}

void PulseWaveIn::releaseQueued()
{
    recording_ = false;
    // Buffers still queued are the component's again; no message reports them.
    for (WaveHeader* header : queue_)
        header->dwFlags &= ~WHDR_INQUEUE;
    queue_.clear();
}

void PulseWaveIn::takeRecorded()
{
    const void* data = nullptr;
    std::size_t size = 0;
    // The newest sound here left the source just now, its own latency after
    // it was recorded; what is waiting to be read came before it. (The
    // stream's latency figure is no help: its count of what has arrived lags
    // behind the arrivals by a piece now and then.) Until the server's first
    // timing report the source's latency, and so the time, is not known.
    std::optional<double> firstMs;
    const pa_timing_info* timing = echo_ ? pa_stream_get_timing_info(stream_) : nullptr;
    const std::size_t waiting = pa_stream_readable_size(stream_);
    if (timing != nullptr && waiting != static_cast<std::size_t>(-1))
        firstMs = nowMs() - static_cast<double>(timing->source_usec) / 1000.0
            - static_cast<double>(waiting / sizeof(std::int16_t)) / StreamClock::kSamplesPerMs;
    while (pa_stream_readable_size(stream_) > 0) {
        if (pa_stream_peek(stream_, &data, &size) < 0 || size == 0)
            return;
        if (recording_ && echo_)
            clean(static_cast<const std::uint8_t*>(data), size, firstMs);
        else if (recording_)
            record(static_cast<const std::uint8_t*>(data), size);
        if (firstMs)
            *firstMs += static_cast<double>(size / sizeof(std::int16_t)) / StreamClock::kSamplesPerMs;
        pa_stream_drop(stream_);
    }
}

void PulseWaveIn::clean(const std::uint8_t* bytes, std::size_t size, std::optional<double> firstMs)
{
    recorded_.assign(size / sizeof(std::int16_t), 0);
    if (bytes != nullptr)
        std::memcpy(recorded_.data(), bytes, recorded_.size() * sizeof(std::int16_t));
    cleaned_.clear();
    echo_->record(recorded_, firstMs, cleaned_);
    if (delivered_ == PA_SAMPLE_S16LE) {
        record(reinterpret_cast<const std::uint8_t*>(cleaned_.data()), cleaned_.size() * sizeof(std::int16_t));
        return;
    }
    // 8-bit sound is unsigned, its silence 0x80; rounded to the nearest step.
    deliveredBytes_.resize(cleaned_.size());
    std::transform(cleaned_.begin(), cleaned_.end(), deliveredBytes_.begin(), [](std::int16_t sample) {
        return static_cast<std::uint8_t>(std::min((sample + 0x80) >> 8, 0x7F) + 0x80);
    });
    record(deliveredBytes_.data(), deliveredBytes_.size());
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
    giveBack(*header);
}

} // namespace kavelo
