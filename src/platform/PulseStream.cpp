#include "platform/PulseStream.h"

#include <pulse/context.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

namespace kavelo {

template <class Device>
PulseStream<Device>::PulseStream(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify)
    : pulse_(std::move(pulse)), notify_(std::move(notify)), id_(nextPulseDeviceId())
{
}

template <class Device>
MMRESULT PulseStream<Device>::prepareHeader(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    header.dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

template <class Device>
MMRESULT PulseStream<Device>::unprepareHeader(WaveHeader& header)
{
    if (!pulse_)
        return MMSYSERR_INVALHANDLE;
    PulseLock lock(*pulse_);
    if (header.dwFlags & WHDR_INQUEUE)
        return kWaveErrStillPlaying;
    header.dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

template <class Device>
MMRESULT PulseStream<Device>::close()
{
    if (!pulse_)
        return MMSYSERR_NOERROR;
    {
        PulseLock lock(*pulse_);
        releaseQueued();
        if (stream_ != nullptr) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            if constexpr (kRecords)
                pa_stream_set_read_callback(stream_, nullptr, nullptr);
            else
                pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
    }
    pulse_.reset();
    return MMSYSERR_NOERROR;
}

template <class Device>
MMRESULT PulseStream<Device>::connect(const char* name, const pa_sample_spec& spec, const std::string& target,
                                      PulseConnection::Clock::time_point deadline)
{
    pa_context* context = pulse_->context();
    stream_ = pa_stream_new(context, name, &spec, nullptr);
    if (stream_ == nullptr)
        return pa_context_errno(context) == PA_ERR_INVALID ? WAVERR_BADFORMAT : MMSYSERR_NOMEM;
    pa_stream_set_state_callback(stream_, onState, this);
    if constexpr (kRecords)
        pa_stream_set_read_callback(stream_, onBytes, this);
    else
        pa_stream_set_write_callback(stream_, onBytes, this);

    if (connectStream(spec, target.empty() ? nullptr : target.c_str()) < 0)
        return resultFromPulseError(pa_context_errno(context));
    pa_stream* stream = stream_;
    const bool settled = pulse_->waitUntil(
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        deadline);
    if (!settled)
        return MMSYSERR_ALLOCATED;
    if (pa_stream_get_state(stream) != PA_STREAM_READY)
        return resultFromPulseError(pa_context_errno(context));
    return MMSYSERR_NOERROR;
}

template <class Device>
bool PulseStream<Device>::usable() const
{
    return pulse_->alive() && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

template <class Device>
MMRESULT PulseStream<Device>::refusalToQueue(const WaveHeader& header) const
{
    if (!(header.dwFlags & WHDR_PREPARED))
        return kWaveErrUnprepared;
    if (header.dwFlags & WHDR_INQUEUE)
        return kWaveErrStillPlaying;
    if (!usable())
        return MMSYSERR_BADDEVICEID;
    return MMSYSERR_NOERROR;
}

template <class Device>
void PulseStream<Device>::giveBack(WaveHeader& header)
{
    header.dwFlags = (header.dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    notify_->post({kRecords ? kMmWimData : kMmWomDone, id_, reinterpret_cast<qintptr>(&header)});
}

template <class Device>
void PulseStream<Device>::dropOperation(pa_operation* operation)
{
    if (operation != nullptr)
        pa_operation_unref(operation);
}

template <class Device>
void PulseStream<Device>::onState(pa_stream* stream, void* self)
{
    auto* device = static_cast<PulseStream*>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        device->onStreamLost();
    device->pulse_->signal();
}

template <class Device>
void PulseStream<Device>::onBytes(pa_stream*, std::size_t, void* self)
{
    static_cast<PulseStream*>(self)->onStreamBytes();
}

template class PulseStream<WaveInDevice>;
template class PulseStream<WaveOutDevice>;

} // namespace kavelo
