// The sound server dies in the middle of a call. The test starts a server of
// its own (the shared one stays untouched), records and plays through it with
// the audio components, kills it, and checks that each component tells its
// user instead of going quiet, and that nothing hangs when they are closed.
#include "DeviceTestSupport.h"
#include "support/TestSupport.h"

#include "audio/AudioCapture.h"
#include "audio/AudioPlayback.h"
#include "platform/pulse/PulseAudioBackend.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

namespace kavelo::test {
namespace {

// A private headless server with the usual virtual speaker and microphone.
class PrivateServer {
public:
    PrivateServer()
    {
        runtime_.setAutoRemove(true);
        QDir(runtime_.path()).mkpath(QStringLiteral("pulse"));
        QFile::setPermissions(runtime_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        socket = runtime_.filePath(QStringLiteral("pulse/native"));
        QFile script(runtime_.filePath(QStringLiteral("test.pa")));
        if (script.open(QIODevice::WriteOnly)) {
            script.write(QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                                        "load-module module-null-sink sink_name=speaker\n"
                                        "load-module module-null-sink sink_name=micfeed\n"
                                        "load-module module-remap-source source_name=mic master=micfeed.monitor\n"
                                        "set-default-sink speaker\nset-default-source mic\n")
                             .arg(socket)
                             .toUtf8());
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        env.insert(QStringLiteral("HOME"), runtime_.path());
        env.remove(QStringLiteral("PULSE_SERVER"));
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(runtime_.filePath(QStringLiteral("server.log")));
        process_.start(QStringLiteral("pulseaudio"),
                       {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                        QStringLiteral("--system=false"), QStringLiteral("-F"), script.fileName()});
    }
    ~PrivateServer() { kill(); }
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    std::shared_ptr<AudioBackend> backend() const
    {
        return makePulseAudioBackend(PulseEndpoints{"unix:" + socket.toStdString(), {}, {}});
    }

    // True once a client can open a playback stream on the server.
    bool waitReady()
    {
        if (!process_.waitForStarted(5000))
            return false;
        MessageLog log;
        return processEventsUntil(
            [&] {
                std::unique_ptr<WaveOutDevice> device;
                if (backend()->openWaveOut(device, pcm8kU8(), log.target()) != MMSYSERR_NOERROR)
                    return false;
                device->close();
                return true;
            },
            10000);
    }

    void kill()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.kill();  // SIGKILL: no goodbye to the clients
        process_.waitForFinished(5000);
    }

    QString log() const
    {
        QFile file(runtime_.filePath(QStringLiteral("server.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

    QString socket;

private:
    QTemporaryDir runtime_;
    QProcess process_;
};

class FaultServerLossTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.waitReady()) << server.log().toStdString(); }

    PrivateServer server;
    ErrorBoxCatcher errors;
};

TEST_F(FaultServerLossTest, PlaybackRefusesTheNextBlockWithAClearErrorAndClosesAtOnce)
{
    AudioPlayback out(nullptr, server.backend());
    out.setNumBuffers(0);
    out.Open(gsm610());
    const EncodedSpeech speech = encodeSpeech();
    ASSERT_GE(speech.blocks.size(), 390u * 4);
    for (int i = 0; i < 4; ++i)
        out.Play(speech.blocks.data() + i * 390, 390);
    processEventsFor(300);

    server.kill();
    // The loss reaches the device on its own thread; the very next blocks find it.
    QString refusal;
    processEventsUntil(
        [&] {
            try {
                out.Play(speech.blocks.data(), 390);
            } catch (const AudioPlaybackError& e) {
                refusal = e.Message();
            }
            return !refusal.isEmpty();
        },
        5000);
    EXPECT_EQ(refusal, QStringLiteral("WaveOut-Write The specified resource does not exist."));
    out.Close();
    EXPECT_FALSE(out.Active());

    // Opening again while there is no server is refused just as plainly.
    try {
        out.Open(gsm610());
        ADD_FAILURE() << "playback opened without a server";
    } catch (const AudioPlaybackError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("WaveOutOpen The specified resource does not exist."));
    }
    EXPECT_TRUE(errors.messages.isEmpty()) << errors.messages.join(QLatin1Char('\n')).toStdString();
}

// Recording that silently stops would leave the caller talking into nothing with
// "Speaking" in the caption: the loss has to reach the component as a failure.
TEST_F(FaultServerLossTest, RecordingThatLosesItsServerIsReportedNotSilentlyStopped)
{
    AudioCapture in(nullptr, server.backend());
    in.setBufferSize(2000);
    int buffers = 0;
    in.OnBufferFull = [&](QObject*, const void*, qint32) { ++buffers; };
    in.Open(pcm8kU8());
    ASSERT_TRUE(processEventsUntil([&] { return buffers >= 2; }, 5000)) << "the microphone delivers nothing";

    server.kill();
    const bool told = processEventsUntil([&] { return !errors.messages.isEmpty(); }, 5000);
    EXPECT_TRUE(told) << "the capture component went quiet without a word after " << buffers << " buffers";
    ::testing::Test::RecordProperty("capture_loss_reported_as", errors.messages.join(QLatin1Char('|')).toStdString());
    for (const QString& message : std::as_const(errors.messages))
        EXPECT_TRUE(message.startsWith(QStringLiteral("WaveIn"))) << message.toStdString();
    in.Close();
    EXPECT_FALSE(in.Active());
}

} // namespace
} // namespace kavelo::test
