#include "audio/AudioPlayback.h"

#include "audio/ResultCheck.h"

#include <cstring>

namespace kavelo {
namespace {

constexpr auto check = checkWaveResult<AudioPlaybackError>;

// Blocks the device has not finished yet, beyond which new ones are dropped:
// two seconds of a call's voice. The voice device finishes each block as it
// takes it, so only a device that has stopped playing ever reaches this.
constexpr std::size_t kMaxBuffersAtDevice = 8;

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
    if (holdBack_ == 0 && buffers_.size() - heldBack_.size() >= kMaxBuffersAtDevice)
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
    // none is ever queued twice. The refused one is released at once.
    while (!heldBack_.empty()) {
        DeviceBuffer* next = heldBack_.front();
        heldBack_.pop_front();
        queue(*next);
    }
}

void AudioPlayback::queue(DeviceBuffer& buffer)
{
    if (const MMRESULT result = device_->prepareHeader(buffer.header)) {
        refused(buffer, result, false);
        check("WaveOut-PrepareHeader", result);
    }
    if (const MMRESULT result = device_->write(buffer.header)) {
        refused(buffer, result, true);
        check("WaveOut-Write", result);
    }
}

void AudioPlayback::refused(DeviceBuffer& buffer, MMRESULT result, bool prepared)
{
    // The device does not hold a refused buffer: it goes at once, so that a
    // device refusing every block does not collect them until Close.
    if (prepared)
        device_->unprepareHeader(buffer.header);
    if (const auto found = buffers_.find(reinterpret_cast<qintptr>(&buffer.header)); found != buffers_.end())
        buffers_.erase(found);
    // A device that is gone plays nothing again: the component closes it, so
    // that the next Open finds the device the server offers now.
    if (deviceIsGone(result))
        Close();
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
