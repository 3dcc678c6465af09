#pragma once

#include "platform/AudioDevice.h"
#include "platform/NotificationWindow.h"

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

namespace kavelo {

// The invisible player of the ring sound: opens a wave file by name, plays it
// without waiting for its end, and stops it when closed.
class MediaPlayer : public QObject {
    Q_OBJECT
public:
    explicit MediaPlayer(QObject* owner = nullptr,
                          std::shared_ptr<AudioBackend> backend = defaultAudioBackend());
    ~MediaPlayer() override;

    QString FileName;

    // Reads the file and opens an output device for it; an open player is closed first.
    // Raises Exception naming the file and the failure.
    void Open();
    // Starts the sound from its beginning and returns at once.
    void Play();
    // Stops the sound and releases the device; a closed player ignores it.
    void Close();

    bool isOpen() const { return device_ != nullptr; }
    bool isPlaying() const { return queued_ > 0; }

private:
    void handleMessage(const NotificationMessage& message);
    void openDevice();
    void closeDevice();
    void releaseChunks();

    std::shared_ptr<AudioBackend> backend_;
    NotificationWindow notifications_;
    std::unique_ptr<WaveOutDevice> device_;
    std::vector<char> sound_;          // the whole file as device-ready PCM
    WaveFormat format_;
    std::vector<std::unique_ptr<WaveHeader>> chunks_;
    int queued_ = 0;
};

} // namespace kavelo
