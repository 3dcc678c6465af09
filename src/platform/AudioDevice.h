#pragma once

#include "platform/NotificationWindow.h"
#include "platform/WaveFormat.h"

#include <cstdint>
#include <memory>

namespace kavelo {

// Result codes of the wave-audio and compression-stream operations.
using MMRESULT = std::uint32_t;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_SYNC = 35;
inline constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
inline constexpr MMRESULT ACMERR_BUSY = 513;
inline constexpr MMRESULT ACMERR_UNPREPARED = 514;

inline constexpr std::uint32_t WHDR_DONE = 0x01;
inline constexpr std::uint32_t WHDR_PREPARED = 0x02;
inline constexpr std::uint32_t WHDR_INQUEUE = 0x10;

// A buffer header as the components allocate it; the device fills lpData and
// reports in dwBytesRecorded. A component recognises its buffers by header identity.
struct WaveHeader {
    char* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;
    std::uint32_t dwBytesRecorded = 0;
    std::uintptr_t dwUser = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwLoops = 0;
};

// Every message a device posts carries the device's id as wParam and the header
// as lParam, so a late message from a closed device is never taken for a buffer
// of a newer one. Ids are unique for the life of the program.
//
// Capture: MM_WIM_DATA once per returned buffer (dwBytesRecorded set, WHDR_DONE).
// Playback: MM_WOM_DONE once per finished buffer.
// Once close() has returned the device touches no header and posts nothing more.
class WaveInDevice {
public:
    virtual ~WaveInDevice() = default;
    virtual std::uintptr_t id() const = 0;
    virtual MMRESULT prepareHeader(WaveHeader& header) = 0;
    virtual MMRESULT unprepareHeader(WaveHeader& header) = 0;
    virtual MMRESULT addBuffer(WaveHeader& header) = 0;
    virtual MMRESULT start() = 0;
    // Stops recording and returns every queued buffer as done, partly filled ones
    // with the bytes recorded so far. Never blocks the GUI thread for long.
    virtual MMRESULT reset() = 0;
    virtual MMRESULT close() = 0;
};

class WaveOutDevice {
public:
    virtual ~WaveOutDevice() = default;
    virtual std::uintptr_t id() const = 0;
    virtual MMRESULT prepareHeader(WaveHeader& header) = 0;
    virtual MMRESULT unprepareHeader(WaveHeader& header) = 0;
    virtual MMRESULT write(WaveHeader& header) = 0;
    // Stops playback at once and returns every queued buffer as done.
    virtual MMRESULT reset() = 0;
    virtual MMRESULT close() = 0;
};

// Device 0 through the mapper: the default source and the default sink.
class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    // On success `device` holds the open device; on failure it stays empty.
    virtual MMRESULT openWaveIn(std::unique_ptr<WaveInDevice>& device, const WaveFormat& format,
                                std::shared_ptr<NotificationTarget> notify) = 0;
    // The output side also accepts GSM 6.10 (tag 0x31) and decodes it itself.
    virtual MMRESULT openWaveOut(std::unique_ptr<WaveOutDevice>& device, const WaveFormat& format,
                                 std::shared_ptr<NotificationTarget> notify) = 0;
    // Whether a call's microphone is cleaned of what its speaker plays (on
    // loudspeakers) or not (a headset); from the next moment on, also during
    // a call. A backend without a canceller ignores it.
    virtual void setEchoCancellation(bool /*on*/) {}
};

// The backend new audio components use: PulseAudio unless replaced (tests).
std::shared_ptr<AudioBackend> defaultAudioBackend();
void setDefaultAudioBackend(std::shared_ptr<AudioBackend> backend);

} // namespace kavelo
