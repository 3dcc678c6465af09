#include "audio/AudioCapture.h"

#include "audio/ResultCheck.h"

#include <algorithm>
#include <cstring>

namespace kavelo {
namespace {

constexpr auto check = checkWaveResult<AudioCaptureError>;

} // namespace

AudioCapture::AudioCapture(QObject* owner, std::shared_ptr<AudioBackend> backend)
    : Component(owner),
      backend_(backend ? std::move(backend) : defaultAudioBackend()),
      buffers_([this](const NotificationMessage& message) { bufferDone(message); })
{
}

AudioCapture::~AudioCapture()
{
    Destroying();
    if (active_)
        Close();
    discardDevice();
    // The last member, buffers_, then frees the buffers and closes the notification window.
}

void AudioCapture::setBufferSize(quint32 size)
{
    if (!active_)
        bufferSize_ = size;
}

void AudioCapture::setNumBuffers(quint8 count)
{
    if (!active_)
        numBuffers_ = count;
}

void AudioCapture::Open(WaveFormat format)
{
    if (active_)
        return;
    // A failed Open gives back what it obtained, so that a late message from
    // that device finds nothing and the next Open starts clean.
    try {
        check("WaveIn-Open", backend_->openWaveIn(device_, format, buffers_.target()));
        for (int i = 0; i < numBuffers_; ++i)
            queueNewBuffer();
        check("WaveIn-Start", device_->start());
    } catch (...) {
        discardDevice();
        buffers_.release();
        throw;
    }
    active_ = true;
}

void AudioCapture::queueNewBuffer()
{
    // The header joins the list before its data area exists, so that Close
    // frees it even when the allocation below fails.
    DeviceBuffer& buffer = buffers_.add();
    buffer.data = std::make_unique<char[]>(bufferSize_);
    buffer.dataSize = bufferSize_;
    buffer.header.lpData = buffer.data.get();
    buffer.header.dwBufferLength = bufferSize_;
    check("WaveIn-PrepareHeader", device_->prepareHeader(buffer.header));
    check("WaveIn-AddBuffer", device_->addBuffer(buffer.header));
}

void AudioCapture::Close()
{
    if (!active_)
        return;
    // Inactive first: the buffers the reset hands back are never reported.
    active_ = false;
    discardDevice();
    // Headers go unprepared: the device has let go of them with the close.
    buffers_.release();
}

void AudioCapture::discardDevice()
{
    if (!device_)
        return;
    device_->reset();
    device_->close();
    device_.reset();
}

void AudioCapture::bufferDone(const NotificationMessage& message)
{
    // A message from a device closed since it was posted names a header that
    // is gone, or that a newer buffer happens to occupy: it is not ours. While
    // inactive there is no device at all (a failed Open gives its device back),
    // so the buffers a reset returns are never reported.
    if (message.number != kMmWimData || !active_ || !device_ || message.wParam != device_->id())
        return;
    const auto found = buffers_.find(message.lParam);
    if (found == buffers_.end())
        return;
    DeviceBuffer& buffer = **found;
    check("WaveIn-UnprepareHeader", device_->unprepareHeader(buffer.header));

    // A device never reports more than the buffer holds; trust it no further.
    const quint32 recorded = std::min(buffer.header.dwBytesRecorded, buffer.dataSize);
    if (OnBufferFull) {
        const std::uintptr_t deviceId = device_->id();
        std::unique_ptr<char[]> copy;
        if (recorded > 0) {
            copy = std::make_unique_for_overwrite<char[]>(recorded);
            std::memcpy(copy.get(), buffer.data.get(), recorded);
        }
        // A copy, so that a handler may reassign the event while it runs.
        const BufferFullHandler handler = OnBufferFull;
        handler(this, copy.get(), static_cast<qint32>(recorded));
        // The handler may run the event loop (a message box) and close, or
        // close and reopen, the component meanwhile; the buffer is then gone.
        if (!active_ || !device_ || device_->id() != deviceId)
            return;
    }

    buffer.header.dwBufferLength = buffer.dataSize;
    buffer.header.dwBytesRecorded = 0;
    buffer.header.dwUser = 0;
    buffer.header.dwFlags = 0;
    buffer.header.dwLoops = 0;
    std::memset(buffer.data.get(), 0, buffer.dataSize);
    requeue(buffer);
}

void AudioCapture::requeue(DeviceBuffer& buffer)
{
    // A device that is gone hands back every buffer it held, each refused
    // here in turn: the component closes at the first, so that the loss is told
    // once and the next Open finds the device the server offers now.
    const auto refused = [this](const char* operation, MMRESULT result) {
        if (deviceIsGone(result))
            Close();
        check(operation, result);
    };
    if (const MMRESULT result = device_->prepareHeader(buffer.header))
        refused("WaveIn-PrepareHeader", result);
    if (const MMRESULT result = device_->addBuffer(buffer.header))
        refused("WaveInAddBuffer", result);
}

} // namespace kavelo
