#include "platform/pulse/PulseConnection.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/thread-mainloop.h>

#include <atomic>
#include <memory>

namespace kavelo {
namespace {

struct WaitTimer {
    pa_threaded_mainloop* loop;
    bool expired = false;
};

void onWaitTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata)
{
    auto* timer = static_cast<WaitTimer*>(userdata);
    timer->expired = true;
    pa_threaded_mainloop_signal(timer->loop, 0);
}

} // namespace

MMRESULT PulseConnection::start(std::unique_ptr<PulseConnection>& connection, const std::string& server)
{
    std::unique_ptr<PulseConnection> pulse(new PulseConnection);
    pulse->loop_ = pa_threaded_mainloop_new();
    if (pulse->loop_ == nullptr)
        return MMSYSERR_NOMEM;
    // Who is playing, as the desktop's sound settings show and remember it.
    std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)> properties(pa_proplist_new(), pa_proplist_free);
    if (!properties)
        return MMSYSERR_NOMEM;
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_NAME, "Kavelo");
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_ID, "kavelo");
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_ICON_NAME, "kavelo");
    pulse->context_ =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(pulse->loop_), "Kavelo", properties.get());
    if (pulse->context_ == nullptr)
        return MMSYSERR_NOMEM;
    pa_context_set_state_callback(pulse->context_, onContextState, pulse.get());
    if (pa_threaded_mainloop_start(pulse->loop_) < 0)
        return MMSYSERR_NOMEM;

    PulseLock lock(*pulse);
    // Never spawn a server: without one, device 0 simply does not exist. The
    // connect itself does not wait: a server that is missing fails it at
    // once, one that is hung simply never answers.
    if (pa_context_connect(pulse->context_, server.empty() ? nullptr : server.c_str(), PA_CONTEXT_NOAUTOSPAWN,
                           nullptr)
        < 0)
        return MMSYSERR_BADDEVICEID;
    connection = std::move(pulse);
    return MMSYSERR_NOERROR;
}

MMRESULT PulseConnection::open(std::unique_ptr<PulseConnection>& connection, const std::string& server,
                               Clock::time_point deadline)
{
    std::unique_ptr<PulseConnection> pulse;
    if (const MMRESULT result = start(pulse, server))
        return result;
    {
        PulseLock lock(*pulse);
        const bool settled = pulse->waitUntil([&] { return pulse->ready() || !pulse->alive(); }, deadline);
        if (!settled || !pulse->ready())
            return MMSYSERR_BADDEVICEID;
    }
    connection = std::move(pulse);
    return MMSYSERR_NOERROR;
}

void PulseConnection::onContextState(pa_context*, void* self)
{
    auto* pulse = static_cast<PulseConnection*>(self);
    if (pulse->onStateChange_)
        pulse->onStateChange_();
    pa_threaded_mainloop_signal(pulse->loop_, 0);
}

PulseConnection::~PulseConnection()
{
    if (loop_ == nullptr)
        return;
    if (context_ != nullptr) {
        pa_threaded_mainloop_lock(loop_);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_threaded_mainloop_unlock(loop_);
    }
    // The loop's thread only polls and runs short callbacks, so stopping it is quick.
    pa_threaded_mainloop_stop(loop_);
    if (context_ != nullptr)
        pa_context_unref(context_);
    pa_threaded_mainloop_free(loop_);
}

bool PulseConnection::waitUntil(const std::function<bool()>& done, Clock::time_point deadline)
{
    if (done())
        return true;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0)
        return false;
    WaitTimer timer{loop_};
    pa_time_event* event = pa_context_rttime_new(context_, pa_rtclock_now() + static_cast<pa_usec_t>(left.count()),
                                                 onWaitTimer, &timer);
    if (event == nullptr)
        return done();
    while (!done() && !timer.expired)
        pa_threaded_mainloop_wait(loop_);
    pa_threaded_mainloop_get_api(loop_)->time_free(event);
    return done();
}

void PulseConnection::signal()
{
    pa_threaded_mainloop_signal(loop_, 0);
}

bool PulseConnection::ready() const
{
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool PulseConnection::alive() const
{
    return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
}

void PulseConnection::setStateHandler(std::function<void()> handler)
{
    onStateChange_ = std::move(handler);
}

pa_mainloop_api* PulseConnection::api() const
{
    return pa_threaded_mainloop_get_api(loop_);
}

PulseLock::PulseLock(const PulseConnection& connection) : loop_(connection.loop())
{
    pa_threaded_mainloop_lock(loop_);
}

PulseLock::~PulseLock()
{
    pa_threaded_mainloop_unlock(loop_);
}

MMRESULT resultFromPulseError(int error)
{
    switch (error) {
    case PA_OK:
        return MMSYSERR_NOERROR;
    case PA_ERR_NOENTITY:
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_INVALIDSERVER:
    case PA_ERR_KILLED:
    case PA_ERR_TIMEOUT:
        return MMSYSERR_BADDEVICEID;
    case PA_ERR_NOTSUPPORTED:
        return WAVERR_BADFORMAT;
    default:
        // Access denied, busy, bad state, too large and the like: the server refuses the stream.
        return MMSYSERR_ALLOCATED;
    }
}

std::uintptr_t nextPulseDeviceId()
{
    static std::atomic<std::uintptr_t> next{1};
    return next++;
}

} // namespace kavelo
