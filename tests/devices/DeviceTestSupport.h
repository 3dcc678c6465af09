#pragma once

#include "platform/AudioDevice.h"
#include "platform/NotificationWindow.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kavelo::test {

// Device tests run against a private sound server (scripts/with-pulse.sh):
// null sink "speaker" (default sink), null sink "micfeed" whose monitor is the
// default source "mic". Without a reachable server every test fails.
// Test programs may run side by side (ctest -j), but the device tests share
// the one server and its microphone: each holds a lock beside the server's
// socket while it runs.
class SoundServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    int lock_ = -1;
};

// Spoken English at about -3 dBFS as 8000 Hz unsigned 8-bit mono, made once per
// test program with espeak-ng and sox. `wavPath` is the same sound as a WAV file.
struct Speech {
    std::vector<std::uint8_t> samples;
    QString wavPath;
};
const Speech& speech();

// Runs a program to its end; fails the test when it cannot or when it fails.
void runTool(const QString& program, const QStringList& arguments, int timeoutMs = 30000);

// A null sink of its own, loaded for one test and unloaded after it: no other
// stream plays to it and nothing records its monitor, so it runs at whatever
// pace the device under test asks for.
class PrivateNullSink {
public:
    explicit PrivateNullSink(const QString& name);
    ~PrivateNullSink();
    PrivateNullSink(const PrivateNullSink&) = delete;
    PrivateNullSink& operator=(const PrivateNullSink&) = delete;

    bool loaded() const { return !module_.isEmpty(); }
    std::string sink() const { return name_.toStdString(); }
    std::string monitor() const { return (name_ + QStringLiteral(".monitor")).toStdString(); }
    // The sink's configured latency (its period) in microseconds, as the server
    // reports it now; -1 when it cannot be read.
    double configuredLatencyUsec() const;

private:
    QString name_;
    QString module_;
};

// Whether the sound server is PipeWire's PulseAudio server. PipeWire runs its
// whole graph at one period (the quantum, the shortest any stream asks for)
// and reports no sink latency, and its session manager sends a stream meant
// for a device that does not exist to the default one.
bool soundServerIsPipeWire();
// On PipeWire: the period, in microseconds, that the playback stream named
// `mediaName` asks the graph to run at; -1 when there is no such stream.
double pipeWirePeriodAskedUsec(const QString& mediaName);

// 8000 Hz unsigned 8-bit mono PCM, the format the program records in.
WaveFormat pcm8kU8();
// GSM 6.10 in 65-byte blocks of 320 samples, the format the program plays.
WaveFormat gsm610();

// Notifications posted to a component's hidden window, in arrival order.
class MessageLog {
public:
    MessageLog();
    std::shared_ptr<NotificationTarget> target() const { return window_->target(); }
    // Called for every message after it is logged (to put buffers back, say).
    std::function<void(const NotificationMessage&)> onMessage;
    // Delivers what was posted so far, then forgets everything logged.
    void settleAndClear();
    std::vector<NotificationMessage> messages;

private:
    std::unique_ptr<NotificationWindow> window_;
};

// A header with its own data area, as a component allocates it.
struct OwnedHeader {
    explicit OwnedHeader(std::size_t size, std::uint8_t fill = 0);
    WaveHeader header;
    std::vector<char> data;
};

// Sound levels as signed values around zero, for comparing recordings.
std::vector<double> centredU8(const std::vector<std::uint8_t>& samples);
std::vector<double> fromS16(const std::vector<std::int16_t>& samples);

// The speech as GSM 6.10 blocks (the last one padded with silence), and what a
// decoder makes of them.
struct EncodedSpeech {
    std::vector<std::uint8_t> blocks;
    std::vector<std::int16_t> decoded;
};
EncodedSpeech encodeSpeech();

// Records the virtual speaker (8000 Hz signed 16-bit mono) from construction to stop().
class SpeakerRecorder {
public:
    SpeakerRecorder();
    ~SpeakerRecorder();
    bool started();
    std::vector<std::int16_t> stop();

private:
    QTemporaryDir dir_;
    QString path_;
    QProcess process_;
};

// Plays the speech into the virtual microphone and waits (handling events) until it is done.
void feedSpeechToMicrophone();

// How many buffers of `bufferBytes` the speech spans, from its first to its last loud sample.
double spokenBuffers(std::size_t bufferBytes);
// How many buffers of a recording lie from the first to the last one that holds a loud sample.
int loudBufferSpan(const std::vector<std::uint8_t>& recorded, std::size_t bufferBytes);

// The best normalised cross-correlation of `reference` within `recording`:
// the lag is first taken from where the sound starts in each, then refined.
double alignedCorrelation(const std::vector<double>& reference, const std::vector<double>& recording);

// For playback, where the playout buffer makes sound a little shorter or
// longer, conceals what is late and a busy machine can make the server run
// dry: the reference in 50 ms pieces, each aligned on its own near the piece
// before it (up to 50 ms earlier, up to half a second later); the median of
// their normalised correlations.
double piecewiseCorrelation(const std::vector<double>& reference, const std::vector<double>& recording);

} // namespace kavelo::test
