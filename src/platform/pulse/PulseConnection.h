#pragma once

#include "platform/AudioDevice.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

struct pa_context;
struct pa_mainloop_api;
struct pa_threaded_mainloop;

namespace kavelo {

// Header results beyond the shared table; they keep their own codes.
inline constexpr MMRESULT kWaveErrStillPlaying = 33; // the header is still queued at the device
inline constexpr MMRESULT kWaveErrUnprepared = 34;   // the header was not prepared

// One device's own connection to the sound server: a threaded main loop and a
// context. Each open device has its own, so a device that hangs or is lost
// never holds up another one, and closing a device ends its thread.
//
// The loop's thread runs the stream callbacks with the loop lock held; the GUI
// thread takes the same lock (PulseLock) for every look at shared state. The
// thread never waits on the server, so the GUI thread never waits long for the lock.
class PulseConnection {
public:
    using Clock = std::chrono::steady_clock;

    // Starts connecting to `server` (empty: the server the environment names)
    // and returns at once; never starts a server. Result: 0, 2 when the server
    // cannot even be tried, 7 without memory. Whether it answers shows in
    // ready() and alive(), and each change of the connection's state runs
    // `onStateChange` (see setStateHandler).
    static MMRESULT start(std::unique_ptr<PulseConnection>& connection, const std::string& server);
    // start(), then waits until the server answers. Result: 0, 2 when no
    // server answers before `deadline`, 7 without memory.
    static MMRESULT open(std::unique_ptr<PulseConnection>& connection, const std::string& server,
                         Clock::time_point deadline);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }

    // With the lock held: waits (the lock released meanwhile) until `done` holds
    // or the deadline passes. Callbacks that change what `done` looks at call signal().
    bool waitUntil(const std::function<bool()>& done, Clock::time_point deadline);
    void signal();

    // With the lock held: the server has answered and the connection can carry streams.
    bool ready() const;
    // With the lock held: false once the server connection has failed or ended.
    // A connection still waiting for the server's answer is alive, not ready.
    bool alive() const;
    // With the lock held: `handler` runs on the loop's thread, with the lock
    // held, whenever the connection's state changes; empty stops that.
    void setStateHandler(std::function<void()> handler);
    // With the lock held: the loop's main loop interface, for timers.
    pa_mainloop_api* api() const;

private:
    PulseConnection() = default;
    static void onContextState(pa_context* context, void* self);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::function<void()> onStateChange_;
};

// Holds the loop lock of a connection for a scope (GUI thread only).
class PulseLock {
public:
    explicit PulseLock(const PulseConnection& connection);
    ~PulseLock();
    PulseLock(const PulseLock&) = delete;
    PulseLock& operator=(const PulseLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

// The wave result code for a PulseAudio error number: no server or no such
// device 2, refused 4, bad sample format 32, no memory 7.
MMRESULT resultFromPulseError(int error);

// A device id never handed out before in this program run.
std::uintptr_t nextPulseDeviceId();

} // namespace kavelo
