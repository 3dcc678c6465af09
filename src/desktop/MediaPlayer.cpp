#include "desktop/MediaPlayer.h"

#include "platform/Exception.h"
#include "platform/ResultText.h"

#include <QFileInfo>
#include <sndfile.h>
#include <algorithm>

namespace kavelo {
namespace {

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

void check(const QString& operation, MMRESULT code)
{
    if (code != MMSYSERR_NOERROR)
        throw Exception(resultMessage(operation, code, waveResultTexts()));
}

// How long the server may still play after the last piece was handed over: it
// holds a fraction of a second ahead of the speaker.
constexpr int kServerHoldsMs = 500;

} // namespace

MediaPlayer::MediaPlayer(QObject* owner, std::shared_ptr<AudioBackend> backend)
    : QObject(owner),
      backend_(std::move(backend)),
      notifications_([this](const NotificationMessage& m) { handleMessage(m); })
{
    closeAfterSound_.setSingleShot(true);
    closeAfterSound_.setInterval(kServerHoldsMs);
    connect(&closeAfterSound_, &QTimer::timeout, this, [this] {
        if (queued_ == 0)
            Close();
    });
}

MediaPlayer::~MediaPlayer()
{
    Close();
}

void MediaPlayer::Open()
{
    Close();
    const QFileInfo file(FileName);
    const qint64 size = file.exists() ? file.size() : -1;
    const QDateTime modified = file.exists() ? file.lastModified() : QDateTime();
    if (!decoded_ || decoded_->path != FileName || decoded_->size != size || decoded_->modified != modified
        || size < 0)
        decode(FileName, size, modified);
    openDevice();
}

void MediaPlayer::decode(const QString& path, qint64 size, const QDateTime& modified)
{
    decoded_.reset();
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(path.toLocal8Bit().constData(), SFM_READ, &info));
    if (!file) {
        throw Exception(QStringLiteral("Cannot open the sound file %1: %2")
                            .arg(path, QString::fromLocal8Bit(sf_strerror(nullptr))));
    }
    if (info.channels < 1 || info.channels > 2 || info.samplerate < 1000 || info.samplerate > 192000)
        throw Exception(QStringLiteral("Cannot play the sound file %1: unsupported format").arg(path));

    std::vector<short> samples(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t read = sf_readf_short(file.get(), samples.data(), info.frames);
    samples.resize(static_cast<std::size_t>(std::max<sf_count_t>(read, 0)) * static_cast<std::size_t>(info.channels));

    Decoded decoded{path, size, modified, {}, {}};
    decoded.format.setFormatTag(kWaveFormatPcm);
    decoded.format.setChannels(static_cast<std::uint16_t>(info.channels));
    decoded.format.setSamplesPerSec(static_cast<std::uint32_t>(info.samplerate));
    decoded.format.setBlockAlign(static_cast<std::uint16_t>(2 * info.channels));
    decoded.format.setAvgBytesPerSec(decoded.format.samplesPerSec() * decoded.format.blockAlign());
    decoded.format.setBitsPerSample(16);
    decoded.sound.assign(reinterpret_cast<const char*>(samples.data()),
                         reinterpret_cast<const char*>(samples.data() + samples.size()));
    decoded_ = std::move(decoded);
}

void MediaPlayer::openDevice()
{
    std::unique_ptr<WaveOutDevice> device;
    const MMRESULT result = backend_->openWaveOut(device, decoded_->format, notifications_.target());
    if (result != MMSYSERR_NOERROR) {
        throw Exception(QStringLiteral("Cannot play the sound file %1:%2")
                            .arg(FileName, resultMessage(QString(), result, waveResultTexts())));
    }
    device_ = std::move(device);
}

void MediaPlayer::closeDevice()
{
    closeAfterSound_.stop();
    device_->reset();
    device_->close();
    device_.reset();
    releaseChunks();
}

void MediaPlayer::Play()
{
    if (!device_)
        throw Exception(QStringLiteral("Cannot play %1: the sound file is not open.").arg(FileName));
    closeAfterSound_.stop();
    if (!chunks_.empty()) {
        // A fresh device: late "done" messages of the old pieces then carry an id
        // that is no longer ours and can never be taken for a new piece.
        closeDevice();
        openDevice();
    }
    // Quarter-second pieces, all queued at once: the device plays them in order.
    std::vector<char>& sound = decoded_->sound;
    const std::size_t chunkBytes = std::max<std::size_t>(decoded_->format.avgBytesPerSec() / 4 / 4 * 4, 4);
    for (std::size_t offset = 0; offset < sound.size(); offset += chunkBytes) {
        auto header = std::make_unique<WaveHeader>();
        header->lpData = sound.data() + offset;
        header->dwBufferLength = static_cast<std::uint32_t>(std::min(chunkBytes, sound.size() - offset));
        chunks_.push_back(std::move(header));
        WaveHeader& queued = *chunks_.back();
        check(QStringLiteral("Cannot play %1:").arg(FileName), device_->prepareHeader(queued));
        check(QStringLiteral("Cannot play %1:").arg(FileName), device_->write(queued));
        ++queued_;
    }
    if (queued_ == 0)
        closeAfterSound_.start();
}

void MediaPlayer::Close()
{
    if (!device_)
        return;
    closeDevice();
}

void MediaPlayer::releaseChunks()
{
    chunks_.clear();
    queued_ = 0;
}

void MediaPlayer::handleMessage(const NotificationMessage& message)
{
    if (message.number != kMmWomDone || !device_ || message.wParam != device_->id())
        return;
    const auto* done = reinterpret_cast<WaveHeader*>(message.lParam);
    const auto it = std::find_if(chunks_.begin(), chunks_.end(),
                                 [done](const auto& chunk) { return chunk.get() == done; });
    if (it == chunks_.end())
        return;
    device_->unprepareHeader(**it);
    queued_ = std::max(queued_ - 1, 0);
    if (queued_ == 0) {
        releaseChunks();
        closeAfterSound_.start();
    }
}

} // namespace kavelo
