#pragma once

#include "audio/DeviceBuffers.h"
#include "platform/AudioDevice.h"
#include "platform/Component.h"
#include "platform/Exception.h"
#include "platform/WaveFormat.h"

#include <QtGlobal>
#include <functional>
#include <memory>

namespace kavelo {

class AudioCaptureError : public Exception {
public:
    using Exception::Exception;
};

// Records from the first capture device in the owner's format and hands each
// filled buffer to OnBufferFull. While active, NumBuffers buffers of BufferSize
// bytes circulate: filled, reported, zeroed and queued again at the end.
class AudioCapture : public Component {
    Q_OBJECT
    Q_PROPERTY(quint32 BufferSize READ BufferSize WRITE setBufferSize)
    Q_PROPERTY(quint8 NumBuffers READ NumBuffers WRITE setNumBuffers)

public:
    // Data is a private copy that lives only while the handler runs (null when Size is 0).
    using BufferFullHandler = std::function<void(QObject* sender, const void* data, qint32 size)>;

    // Without a backend the component records through defaultAudioBackend().
    explicit AudioCapture(QObject* owner, std::shared_ptr<AudioBackend> backend = {});
    ~AudioCapture() override;

    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Opens the device, queues NumBuffers buffers and starts recording; does
    // nothing while active. Raises AudioCaptureError when the device refuses a step.
    // A device found gone while recording closes the component (told once, by
    // the error of the buffer that found it); Open again to record anew.
    void Open(WaveFormat format);
    // Stops recording and releases every buffer; the last, partly filled
    // buffer is never reported. Does nothing while inactive; raises nothing.
    void Close();
    bool Active() const { return active_; }

    // Both are fixed while active: a write then is dropped silently.
    quint32 BufferSize() const { return bufferSize_; }
    void setBufferSize(quint32 size);
    quint8 NumBuffers() const { return numBuffers_; }
    void setNumBuffers(quint8 count);

    // Whether the speaker's echo is taken out of what the device records
    // (loudspeakers) or not (a headset); from the next moment on.
    void setEchoCancellation(bool on) { backend_->setEchoCancellation(on); }

    BufferFullHandler OnBufferFull;

private:
    void queueNewBuffer();
    void bufferDone(const NotificationMessage& message);
    void requeue(DeviceBuffer& buffer);
    // Shuts a device left open by a failed Open; results do not matter here.
    void discardDevice();

    bool active_ = false;
    quint32 bufferSize_ = 8192;
    quint8 numBuffers_ = 4;
    std::shared_ptr<AudioBackend> backend_;
    std::unique_ptr<WaveInDevice> device_;
    // Declared last, so that it goes first: before the device and the backend.
    DeviceBuffers buffers_;
};

} // namespace kavelo
