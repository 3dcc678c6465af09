#include "platform/pulse/PulsePcmOutput.h"

#include "platform/pulse/PlaybackStream.h"

#include <pulse/stream.h>

#include <algorithm>
#include <new>

namespace kavelo {
namespace {

// What the server holds ahead of the speaker while sound streams in: enough
// for the loop's thread to be late now and then on a busy machine without the
// speaker running dry, little enough that a sound is heard 60-100 ms after it
// is written. A buffer that starts after a pause is heard at once.
constexpr pa_usec_t kTargetLatencyUsec = 80'000;
// Refills of a quarter of the target. The server splits the target between the
// sink's own period and a reserve of two refills, so this leaves the sink a
// 20 ms period: refills of half the target left it none, and the sink then ran
// at its shortest period (half a millisecond on a null sink, a tenth of a core).
constexpr pa_usec_t kRequestUsec = 20'000;

} // namespace

MMRESULT PulsePcmOutput::open(std::unique_ptr<WaveOutDevice>& device, const PulseStreamFormat& format,
                              std::shared_ptr<NotificationTarget> notify, const std::string& server,
                              const std::string& sink)
{
    return openDevice<PulsePcmOutput>(device, format, kRing, std::move(notify), server, sink);
}

PulsePcmOutput::PulsePcmOutput(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify)
    : PulseStream(std::move(pulse), std::move(notify))
{
}

PulsePcmOutput::~PulsePcmOutput()
{
    close();
}

int PulsePcmOutput::connectStream(const pa_sample_spec& spec, const char* sink)
{
    return connectPlaybackStream(stream_, spec, sink, kTargetLatencyUsec, kRequestUsec);
}

MMRESULT PulsePcmOutput::write(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    {
        PulseLock lock(*pulse_);
        if (const MMRESULT refusal = refusalToQueue(header))
            return refusal;
    }
    // Copying needs no lock: the header is the caller's until queued.
    std::vector<std::uint8_t> sound;
    try {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(header.lpData);
        sound.assign(bytes, bytes + header.dwBufferLength);
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

MMRESULT PulsePcmOutput::reset()
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

void PulsePcmOutput::onStreamLost()
{
    // What the lost device still held will never play. Those buffers come
    // back as done; the next write is refused.
    while (!queue_.empty())
        returnFront();
}

void PulsePcmOutput::releaseQueued()
{
    // Buffers still queued are the caller's again; no message reports them.
    for (Queued& queued : queue_)
        queued.header->dwFlags &= ~WHDR_INQUEUE;
    queue_.clear();
}

void PulsePcmOutput::handOver()
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

void PulsePcmOutput::returnFront()
{
    WaveHeader* header = queue_.front().header;
    queue_.pop_front();
    giveBack(*header);
}

} // namespace kavelo
