#include "DeviceTestSupport.h"

#include "platform/PulseConnection.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

namespace kavelo::test {

void SoundServerTest::SetUp()
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        << "PULSE_SERVER is not set: run the device tests through scripts/with-pulse.sh";
    std::unique_ptr<PulseConnection> connection;
    const auto deadline = PulseConnection::Clock::now() + std::chrono::seconds(3);
    ASSERT_EQ(PulseConnection::open(connection, {}, deadline), MMSYSERR_NOERROR)
        << "no sound server answers at " << qgetenv("PULSE_SERVER").toStdString();
}

void runTool(const QString& program, const QStringList& arguments, int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    ASSERT_TRUE(process.waitForStarted()) << program.toStdString() << " does not start";
    ASSERT_TRUE(process.waitForFinished(timeoutMs)) << program.toStdString() << " does not finish";
    ASSERT_EQ(process.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(process.exitCode(), 0) << program.toStdString() << ": "
                                     << process.readAllStandardError().toStdString();
}

namespace {

Speech makeSpeech()
{
    static QTemporaryDir dir;
    Speech result;
    const QString spoken = dir.filePath(QStringLiteral("spoken.wav"));
    const QString raw = dir.filePath(QStringLiteral("speech.u8"));
    result.wavPath = dir.filePath(QStringLiteral("speech.wav"));
    runTool(QStringLiteral("espeak-ng"),
            {QStringLiteral("-w"), spoken,
             QStringLiteral("Hello, this is a call. The quick brown fox jumps over the lazy dog.")});
    runTool(QStringLiteral("sox"), {spoken, QStringLiteral("-r"), QStringLiteral("8000"), QStringLiteral("-c"),
                                    QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("8"),
                                    QStringLiteral("-e"), QStringLiteral("unsigned-integer"), QStringLiteral("-t"),
                                    QStringLiteral("raw"), raw, QStringLiteral("norm"), QStringLiteral("-3")});
    runTool(QStringLiteral("sox"), {QStringLiteral("-r"), QStringLiteral("8000"), QStringLiteral("-c"),
                                    QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("8"),
                                    QStringLiteral("-e"), QStringLiteral("unsigned-integer"), QStringLiteral("-t"),
                                    QStringLiteral("raw"), raw, result.wavPath});
    QFile file(raw);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        result.samples.assign(bytes.begin(), bytes.end());
    }
    return result;
}

} // namespace

const Speech& speech()
{
    static const Speech made = makeSpeech();
    return made;
}

WaveFormat pcm8kU8()
{
    WaveFormat format;
    format.setFormatTag(kWaveFormatPcm);
    format.setChannels(1);
    format.setSamplesPerSec(8000);
    format.setAvgBytesPerSec(8000);
    format.setBlockAlign(1);
    format.setBitsPerSample(8);
    return format;
}

WaveFormat gsm610()
{
    WaveFormat format;
    format.setFormatTag(kWaveFormatGsm610);
    format.setChannels(1);
    format.setSamplesPerSec(8000);
    format.setAvgBytesPerSec(1625);
    format.setBlockAlign(65);
    format.setBitsPerSample(0);
    format.setExtraSize(2);
    format.setExtraU16(0, 320);
    return format;
}

MessageLog::MessageLog()
    : window_(std::make_unique<NotificationWindow>([this](const NotificationMessage& message) {
          messages.push_back(message);
          if (onMessage)
              onMessage(message);
      }))
{
}

void MessageLog::settleAndClear()
{
    QCoreApplication::sendPostedEvents(window_.get());
    messages.clear();
}

OwnedHeader::OwnedHeader(std::size_t size, std::uint8_t fill) : data(size, static_cast<char>(fill))
{
    header.lpData = data.data();
    header.dwBufferLength = static_cast<std::uint32_t>(size);
}

std::vector<double> centredU8(const std::vector<std::uint8_t>& samples)
{
    std::vector<double> result(samples.size());
    std::transform(samples.begin(), samples.end(), result.begin(),
                   [](std::uint8_t s) { return static_cast<double>(s) - 128.0; });
    return result;
}

std::vector<double> fromS16(const std::vector<std::int16_t>& samples)
{
    return {samples.begin(), samples.end()};
}

namespace {

std::ptrdiff_t onset(const std::vector<double>& sound)
{
    double peak = 0;
    for (double s : sound)
        peak = std::max(peak, std::abs(s));
    for (std::size_t i = 0; i < sound.size(); ++i)
        if (std::abs(sound[i]) > 0.2 * peak)
            return static_cast<std::ptrdiff_t>(i);
    return 0;
}

double correlationAt(const std::vector<double>& reference, const std::vector<double>& recording, std::ptrdiff_t lag)
{
    double product = 0, referenceEnergy = 0, recordingEnergy = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i) + lag;
        const double heard = at >= 0 && at < static_cast<std::ptrdiff_t>(recording.size()) ? recording[at] : 0.0;
        product += reference[i] * heard;
        referenceEnergy += reference[i] * reference[i];
        recordingEnergy += heard * heard;
    }
    if (referenceEnergy == 0 || recordingEnergy == 0)
        return 0;
    return product / std::sqrt(referenceEnergy * recordingEnergy);
}

} // namespace

double alignedCorrelation(const std::vector<double>& reference, const std::vector<double>& recording)
{
    const std::ptrdiff_t guess = onset(recording) - onset(reference);
    double best = -1;
    for (std::ptrdiff_t lag = guess - 400; lag <= guess + 400; ++lag)
        best = std::max(best, correlationAt(reference, recording, lag));
    return best;
}

} // namespace kavelo::test
