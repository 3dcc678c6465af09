#pragma once

#include "platform/AudioDevice.h"
#include "platform/NotificationWindow.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace kavelo {

// The invisible player of the ring sound: opens a wave file by name, plays it
// without waiting for its end, and stops it when closed. Once the sound has
// played to its end the player closes by itself, so that no idle stream keeps
// the sound server's connection, its thread and the sound card busy.
class MediaPlayer : public QObject {
    Q_OBJECT
public:
    explicit MediaPlayer(QObject* owner = nullptr,
                          std::shared_ptr<AudioBackend> backend = defaultAudioBackend());
    ~MediaPlayer() override;

    QString FileName;

    // Reads the file and opens an output device for it; an open player is closed first.
    // The file is decoded once and kept while its size and time stay the same,
    // so a ring reads nothing again. Raises Exception naming the file and the failure.
    void Open();
    // Starts the sound from its beginning and returns at once. Raises Exception
    // when the player is not open (it closes itself after each sound).
    void Play();
    // Stops the sound and releases the device; a closed player ignores it.
    void Close();

    bool isOpen() const { return device_ != nullptr; }
    bool isPlaying() const { return queued_ > 0; }

private:
    // The sound of one file as the device plays it, and what tells whether
    // the file has changed since.
    struct Decoded {
        QString path;
        qint64 size = -1;
        QDateTime modified;
        WaveFormat format;
        std::vector<char> sound;
    };

    void decode(const QString& path, qint64 size, const QDateTime& modified);
    void handleMessage(const NotificationMessage& message);
    void openDevice();
    void closeDevice();
    void releaseChunks();

    std::shared_ptr<AudioBackend> backend_;
    NotificationWindow notifications_;
    std::unique_ptr<WaveOutDevice> device_;
    std::optional<Decoded> decoded_;
    std::vector<std::unique_ptr<WaveHeader>> chunks_;
    int queued_ = 0;
    // Started when the last piece is handed over; the server still plays what it holds.
    QTimer closeAfterSound_;
};

} // namespace kavelo
