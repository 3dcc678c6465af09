#pragma once

#include "platform/AudioDevice.h"
#include "platform/pulse/PulseConnection.h"
#include "platform/pulse/PulseFormat.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <type_traits>

struct pa_mainloop_api;
struct pa_operation;
struct pa_stream;
struct pa_time_event;
struct timeval;

namespace kavelo {

// What a wave device on a PulseAudio stream is apart from its direction: its
// own connection, its id, where its messages go, and one stream on that
// connection from open to close. `Device` is WaveInDevice (a record stream,
// MM_WIM_DATA) or WaveOutDevice (a playback stream, MM_WOM_DONE).
//
// A device says what is its own through the hooks below: how its stream
// connects, what it keeps of the stream format, what the stream's bytes are
// for, and what becomes of its queued buffers when the stream is lost or the
// device closed. The hooks run with the loop lock held (setUp() excepted).
// A device calls close() in its own destructor: by this one's, its queue is gone.
template <class Device>
class PulseStream : public Device {
public:
    std::uintptr_t id() const override { return id_; }
    MMRESULT prepareHeader(WaveHeader& header) override;
    MMRESULT unprepareHeader(WaveHeader& header) override;
    MMRESULT close() override;

protected:
    PulseStream(std::unique_ptr<PulseConnection> pulse, std::shared_ptr<NotificationTarget> notify);

    // What the desktop is told a stream is for: the name its sound settings
    // show and remember the stream's device and volume by, and its role
    // ("phone" lets the server duck music; the call's echo is the program's
    // own business, so no server canceller is asked for).
    struct StreamPurpose {
        const char* name;
        const char* role;
    };
    static constexpr StreamPurpose kCall{"Kavelo call", "phone"};
    static constexpr StreamPurpose kRing{"Kavelo ring", "event"};

    // Opens a `Self` on `server` whose stream, for `purpose`, runs in `format`
    // (nothing: a format the device cannot take) on `target` (empty: the
    // server's default device). `Self` befriends this class for its
    // constructor, which takes the connection, `notify` and then `extra`.
    template <class Self, class... Extra>
    static MMRESULT openDevice(std::unique_ptr<Device>& device, const std::optional<PulseStreamFormat>& format,
                               StreamPurpose purpose, std::shared_ptr<NotificationTarget> notify,
                               const std::string& server, const std::string& target, Extra&&... extra);

    // A device is open before the server has answered: opening waits only a
    // moment for it, so that a hung server never holds up the caller. Until
    // the answer comes the device is pending and takes buffers as an open one
    // does; the stream is made as soon as the server answers, and a server
    // that has not answered within kOpenTimeout fails the device, which is
    // then lost as on any failure.
    enum class Readiness { Pending, Ready, Failed };

    // With the loop lock held.
    Readiness readiness() const;
    // With the loop lock held: whether the stream carries sound now.
    bool usable() const { return readiness() == Readiness::Ready; }
    // With the loop lock held: why `header` cannot be queued now, or 0.
    MMRESULT refusalToQueue(const WaveHeader& header) const;
    // With the loop lock held: `header` is the owner's again, done, and the owner is told.
    void giveBack(WaveHeader& header);
    static void dropOperation(pa_operation* operation);

    // Before the stream exists, without the lock: keeps what the device needs
    // of the format. A result other than 0 ends the open with it.
    virtual MMRESULT setUp(const PulseStreamFormat& format) = 0;
    // Connects the new stream to `target` (nullptr: the default); the result
    // of pa_stream_connect_record / pa_stream_connect_playback.
    virtual int connectStream(const pa_sample_spec& spec, const char* target) = 0;
    // The stream has bytes to read (capture) or room to write (playback).
    virtual void onStreamBytes() = 0;
    // The stream has become ready (it may have been pending until now).
    virtual void onStreamReady() = 0;
    // The server went away, dropped the stream or never answered.
    virtual void onStreamLost() = 0;
    // In close(): the buffers still queued, given back without a message.
    virtual void releaseQueued() = 0;

    std::unique_ptr<PulseConnection> pulse_;
    pa_stream* stream_ = nullptr;

private:
    // How long the server has to answer an open before the device fails.
    static constexpr auto kOpenTimeout = std::chrono::seconds(3);
    // How long an open waits for that answer before it returns a pending
    // device. A live server answers within a few milliseconds, and a missing
    // one fails at once, so both are reported by the open itself.
    static constexpr auto kAnswerWait = std::chrono::milliseconds(50);
    static constexpr bool kRecords = std::is_same_v<Device, WaveInDevice>;

    // The rest of these run with the loop lock held. begin() starts the
    // stream's way to the server and waits at most kAnswerWait; its result is
    // the failure the server reported by then, or 0.
    MMRESULT begin(StreamPurpose purpose, const pa_sample_spec& spec, const std::string& target);
    void onConnectionState();
    MMRESULT createStream();
    void fail(MMRESULT result);
    void cancelDeadline();
    static void onState(pa_stream* stream, void* self);
    static void onBytes(pa_stream* stream, std::size_t bytes, void* self);
    static void onDeadline(pa_mainloop_api* api, pa_time_event* event, const struct timeval* when, void* self);

    std::shared_ptr<NotificationTarget> notify_;
    const std::uintptr_t id_;
    StreamPurpose purpose_{};
    pa_sample_spec spec_{};
    std::string target_;
    pa_time_event* deadline_ = nullptr;
    MMRESULT failure_ = MMSYSERR_NOERROR;
};

template <class Device>
template <class Self, class... Extra>
MMRESULT PulseStream<Device>::openDevice(std::unique_ptr<Device>& device,
                                         const std::optional<PulseStreamFormat>& format, StreamPurpose purpose,
                                         std::shared_ptr<NotificationTarget> notify, const std::string& server,
                                         const std::string& target, Extra&&... extra)
{
    if (!format)
        return WAVERR_BADFORMAT;
    std::unique_ptr<PulseConnection> pulse;
    if (const MMRESULT result = PulseConnection::start(pulse, server))
        return result;

    std::unique_ptr<Self> self(new Self(std::move(pulse), std::move(notify), std::forward<Extra>(extra)...));
    PulseStream& stream = *self; // the hooks are the device's own, private there
    if (const MMRESULT result = stream.setUp(*format))
        return result;

    PulseLock lock(*stream.pulse_);
    if (const MMRESULT result = stream.begin(purpose, format->spec, target))
        return result;
    device = std::move(self);
    return MMSYSERR_NOERROR;
}

extern template class PulseStream<WaveInDevice>;
extern template class PulseStream<WaveOutDevice>;

} // namespace kavelo
