#include "audio/AudioPlayback.h"

#include "audio/ResultCheck.h"

#include <cstring>

namespace kavelo {
namespace {

constexpr auto check = checkWaveResult<AudioPlaybackError>;

} // namespace

AudioPlayback::AudioPlayback(QObject* owner, std::shared_ptr<AudioBackend> backend)
    : Component(owner),
      backend_(backend ? std::move(backend) : defaultAudioBackend()),
      buffers_([this](const NotificationMessage& message) { bufferDone(message); })
{
}

AudioPlayback::~AudioPlayback()
{
    Destroying();
    if (active_)
        Close();
    // The last member, buffers_, then frees the buffers and closes the notification window.
}

void AudioPlayback::Open(WaveFormat format)
{
    if (active_)
        return;
    holdBack_ = numBuffers_;
    format_ = format;
    check("WaveOutOpen", backend_->openWaveOut(device_, format_, buffers_.target()));
    active_ = true;
}

void AudioPlayback::Play(const void* data, qint32 size)
{
    // A negative size or missing bytes would be copied from nowhere: no block.
    if (size <= 0 || data == nullptr || !active_)
        return;
    DeviceBuffer& buffer = buffers_.add();
    buffer.data = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size));
    std::memcpy(buffer.data.get(), data, static_cast<std::size_t>(size));
    buffer.dataSize = static_cast<std::uint32_t>(size);
    buffer.header.lpData = buffer.data.get();
    buffer.header.dwBufferLength = static_cast<std::uint32_t>(size);
    buffer.header.dwBytesRecorded = static_cast<std::uint32_t>(size);

    heldBack_.push_back(&buffer);
    if (holdBack_ > 0) {
        --holdBack_;
        return;
    }
    // Each buffer leaves the held-back list just before it is queued, so that
    // after a refused one the rest stay held, in order, for the next Play, and
    // none is ever queued twice. The refused one waits for Close.
    while (!heldBack_.empty()) {
        DeviceBuffer* next = heldBack_.front();
        heldBack_.pop_front();
        queue(*next);
    }
}

void AudioPlayback::queue(DeviceBuffer& buffer)
{
    check("WaveOut-PrepareHeader", device_->prepareHeader(buffer.header));
    check("WaveOut-Write", device_->write(buffer.header));
}

void AudioPlayback::Close()
{
    if (!active_)
        return;
    // Inactive first: the buffers the reset hands back are not reported.
    active_ = false;
    device_->reset();
    device_->close();
    heldBack_.clear();
    device_.reset();
    // Headers go unprepared: the device has let go of them with the close.
    buffers_.release();
}

void AudioPlayback::bufferDone(const NotificationMessage& message)
{
    // A message from a device closed since it was posted names a header that
    // is gone, or that a newer buffer happens to occupy: it is not ours.
    if (message.number != kMmWomDone || !active_ || !device_ || message.wParam != device_->id())
        return;
    const auto found = buffers_.find(message.lParam);
    if (found == buffers_.end())
        return;
    check("WaveOut-UnprepareHeader", device_->unprepareHeader((*found)->header));
    buffers_.erase(found);
    // A copy, so that a handler may reassign the event while it runs.
    if (const NotifyHandler handler = OnBufferPlayed)
        handler(this);
}

} // namespace kavelo
