#pragma once

#include "audio/DeviceBuffers.h"
#include "platform/AudioDevice.h"
#include "platform/Component.h"
#include "platform/Exception.h"
#include "platform/WaveFormat.h"

#include <QtGlobal>
#include <deque>
#include <functional>
#include <memory>

namespace kavelo {

class AudioPlaybackError : public Exception {
public:
    using Exception::Exception;
};

// Plays blocks on the first output device in the owner's format (GSM 6.10 is
// decoded by the device itself). Each block is copied into a buffer of its own,
// released when the device has played it. After each Open the first NumBuffers
// blocks are held back and queued together with the next one, so that playback
// starts with some sound in reserve.
//
// What is fed from the network is bounded: while eight blocks wait at the
// device, new ones are dropped; a block the device refuses is released at
// once, and a device that reports itself gone is closed, so that the next
// Open starts afresh.
class AudioPlayback : public Component {
    Q_OBJECT
    Q_PROPERTY(quint8 NumBuffers READ NumBuffers WRITE setNumBuffers)

public:
    using NotifyHandler = std::function<void(QObject* sender)>;

    // Without a backend the component plays through defaultAudioBackend().
    explicit AudioPlayback(QObject* owner, std::shared_ptr<AudioBackend> backend = {});
    ~AudioPlayback() override;

    AudioPlayback(const AudioPlayback&) = delete;
    AudioPlayback& operator=(const AudioPlayback&) = delete;

    // Opens the device and arms the hold-back count; does nothing while active.
    // Raises AudioPlaybackError when the device refuses the format.
    void Open(WaveFormat format);
    // Copies the block, then holds it back or queues it; the caller keeps its
    // bytes. Does nothing for an empty block, while inactive, or while the
    // device is eight blocks behind. Raises AudioPlaybackError when the device
    // refuses the buffer.
    void Play(const void* data, qint32 size);
    // Stops playback at once and releases every buffer, played or not; none is
    // reported. Does nothing while inactive; raises nothing.
    void Close();
    bool Active() const { return active_; }

    // Read only by Open.
    quint8 NumBuffers() const { return numBuffers_; }
    void setNumBuffers(quint8 count) { numBuffers_ = count; }

    // Fired once per finished buffer, after the buffer has been released.
    NotifyHandler OnBufferPlayed;

private:
    void queue(DeviceBuffer& buffer);
    void refused(DeviceBuffer& buffer, MMRESULT result, bool prepared);
    void bufferDone(const NotificationMessage& message);

    bool active_ = false;
    quint8 holdBack_ = 0;
    // Blocks collected since Open and not yet at the device, first held first;
    // they are owned by buffers_.
    std::deque<DeviceBuffer*> heldBack_;
    quint8 numBuffers_ = 4;
    WaveFormat format_;
    std::shared_ptr<AudioBackend> backend_;
    std::unique_ptr<WaveOutDevice> device_;
    // Declared last, so that it goes first: before the device and the backend.
    DeviceBuffers buffers_;
};

} // namespace kavelo
