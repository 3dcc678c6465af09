#include "platform/pulse/PulseStream.h"

#include <pulse/context.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <memory>

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
        pulse_->setStateHandler({});
        cancelDeadline();
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
MMRESULT PulseStream<Device>::begin(StreamPurpose purpose, const pa_sample_spec& spec, const std::string& target)
{
    purpose_ = purpose;
    spec_ = spec;
    target_ = target;
    pulse_->setStateHandler([this] { onConnectionState(); });
    const auto timeout = std::chrono::duration_cast<std::chrono::microseconds>(kOpenTimeout);
    deadline_ = pa_context_rttime_new(pulse_->context(), pa_rtclock_now() + static_cast<pa_usec_t>(timeout.count()),
                                      onDeadline, this);
    if (deadline_ == nullptr)
        return MMSYSERR_NOMEM;
    // The server may have answered already.
    onConnectionState();
    pulse_->waitUntil([this] { return readiness() != Readiness::Pending; },
                      PulseConnection::Clock::now() + kAnswerWait);
    return readiness() == Readiness::Failed ? failure_ : MMSYSERR_NOERROR;
}

template <class Device>
void PulseStream<Device>::onConnectionState()
{
    if (failure_ != MMSYSERR_NOERROR)
        return;
    if (!pulse_->alive())
        fail(MMSYSERR_BADDEVICEID);
    else if (pulse_->ready() && stream_ == nullptr)
        if (const MMRESULT result = createStream())
            fail(result);
}

template <class Device>
MMRESULT PulseStream<Device>::createStream()
{
    pa_context* context = pulse_->context();
    std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)> properties(pa_proplist_new(), pa_proplist_free);
    if (!properties)
        return MMSYSERR_NOMEM;
    pa_proplist_sets(properties.get(), PA_PROP_MEDIA_NAME, purpose_.name);
    pa_proplist_sets(properties.get(), PA_PROP_MEDIA_ROLE, purpose_.role);
    stream_ = pa_stream_new_with_proplist(context, purpose_.name, &spec_, nullptr, properties.get());
    if (stream_ == nullptr)
        return pa_context_errno(context) == PA_ERR_INVALID ? WAVERR_BADFORMAT : MMSYSERR_NOMEM;
    pa_stream_set_state_callback(stream_, onState, this);
    if constexpr (kRecords)
        pa_stream_set_read_callback(stream_, onBytes, this);
    else
        pa_stream_set_write_callback(stream_, onBytes, this);
    if (connectStream(spec_, target_.empty() ? nullptr : target_.c_str()) < 0)
        return resultFromPulseError(pa_context_errno(context));
    return MMSYSERR_NOERROR;
}

template <class Device>
void PulseStream<Device>::fail(MMRESULT result)
{
    failure_ = result != MMSYSERR_NOERROR ? result : MMSYSERR_BADDEVICEID;
    cancelDeadline();
    onStreamLost();
    pulse_->signal();
}

template <class Device>
void PulseStream<Device>::cancelDeadline()
{
    if (deadline_ != nullptr)
        pulse_->api()->time_free(deadline_);
    deadline_ = nullptr;
}

template <class Device>
typename PulseStream<Device>::Readiness PulseStream<Device>::readiness() const
{
    if (failure_ != MMSYSERR_NOERROR || !pulse_->alive())
        return Readiness::Failed;
    if (stream_ == nullptr)
        return Readiness::Pending;
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY)
        return Readiness::Ready;
    return PA_STREAM_IS_GOOD(state) ? Readiness::Pending : Readiness::Failed;
}

template <class Device>
MMRESULT PulseStream<Device>::refusalToQueue(const WaveHeader& header) const
{
    if (!(header.dwFlags & WHDR_PREPARED))
        return kWaveErrUnprepared;
    if (header.dwFlags & WHDR_INQUEUE)
        return kWaveErrStillPlaying;
    // A pending device takes buffers: they wait for the server's answer.
    if (readiness() == Readiness::Failed)
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
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
        device->cancelDeadline();
        device->onStreamReady();
    } else if (!PA_STREAM_IS_GOOD(state) && device->failure_ == MMSYSERR_NOERROR) {
        device->fail(resultFromPulseError(pa_context_errno(device->pulse_->context())));
    }
    device->pulse_->signal();
}

template <class Device>
void PulseStream<Device>::onDeadline(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self)
{
    auto* device = static_cast<PulseStream*>(self);
    api->time_free(event);
    device->deadline_ = nullptr;
    if (device->readiness() == Readiness::Pending)
        device->fail(device->pulse_->ready() ? MMSYSERR_ALLOCATED : MMSYSERR_BADDEVICEID);
}

template <class Device>
void PulseStream<Device>::onBytes(pa_stream*, std::size_t, void* self)
{
    static_cast<PulseStream*>(self)->onStreamBytes();
}

template class PulseStream<WaveInDevice>;
template class PulseStream<WaveOutDevice>;

} // namespace kavelo
