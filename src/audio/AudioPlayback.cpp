#include "audio/AudioPlayback.h"

#include "audio/ResultCheck.h"

#include <algorithm>
#include <cstring>

namespace kavelo {
namespace {

void check(const char* operation, MMRESULT code)
{
    checkResult<AudioPlaybackError>(QString::fromLatin1(operation), code, waveResultTexts());
}

} // namespace

AudioPlayback::AudioPlayback(QObject* owner, std::shared_ptr<AudioBackend> backend)
    : Component(owner),
      backend_(backend ? std::move(backend) : defaultAudioBackend()),
      window_(std::make_unique<NotificationWindow>(
          [this](const NotificationMessage& message) { bufferDone(message); }))
{
}

AudioPlayback::~AudioPlayback()
{
    Destroying();
    if (active_)
        Close();
    releaseBuffers();
    window_.reset();
    heldBack_.clear();
}

void AudioPlayback::Open(WaveFormat format)
{
    if (active_)
        return;
    holdBack_ = numBuffers_;
    format_ = format;
    check("WaveOutOpen", backend_->openWaveOut(device_, format_, window_->target()));
    active_ = true;
}

void AudioPlayback::Play(const void* data, qint32 size)
{
    // A negative size or missing bytes would be copied from nowhere: no block.
    if (size <= 0 || data == nullptr || !active_)
        return;
    buffers_.push_back(std::make_unique<Buffer>());
    Buffer& buffer = *buffers_.back();
    buffer.data = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size));
    std::memcpy(buffer.data.get(), data, static_cast<std::size_t>(size));
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
        Buffer* next = heldBack_.front();
        heldBack_.pop_front();
        queue(*next);
    }
}

void AudioPlayback::queue(Buffer& buffer)
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
    releaseBuffers();
}

void AudioPlayback::releaseBuffers()
{
    while (!buffers_.empty())
        buffers_.pop_back();
}

void AudioPlayback::bufferDone(const NotificationMessage& message)
{
    // A message from a device closed since it was posted names a header that
    // is gone, or that a newer buffer happens to occupy: it is not ours.
    if (message.number != kMmWomDone || !active_ || !device_ || message.wParam != device_->id())
        return;
    // Compared as numbers: a header that was freed is never dereferenced.
    const auto found = std::find_if(buffers_.begin(), buffers_.end(), [&](const auto& buffer) {
        return reinterpret_cast<qintptr>(&buffer->header) == message.lParam;
    });
    if (found == buffers_.end())
        return;
    check("WaveOut-UnprepareHeader", device_->unprepareHeader((*found)->header));
    buffers_.erase(found);
    // A copy, so that a handler may reassign the event while it runs.
    if (const NotifyHandler handler = OnBufferPlayed)
        handler(this);
}

} // namespace kavelo
