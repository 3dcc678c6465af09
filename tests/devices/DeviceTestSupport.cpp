#include "DeviceTestSupport.h"

#include "voice/GsmCodec.h"
#include "platform/pulse/PulseConnection.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kavelo::test {

void SoundServerTest::SetUp()
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        << "PULSE_SERVER is not set: run the device tests through scripts/with-pulse.sh";
    QString socket = qEnvironmentVariable("PULSE_SERVER");
    if (socket.startsWith(QStringLiteral("unix:")))
        socket = socket.mid(5);
    else
        socket = QDir::temp().filePath(QStringLiteral("kavelo-sound-server"));
    lock_ = ::open(QFile::encodeName(socket + QStringLiteral(".device-tests.lock")).constData(),
                   O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock_, 0) << "cannot create the device tests' lock beside " << socket.toStdString();
    ASSERT_EQ(::flock(lock_, LOCK_EX), 0);
    std::unique_ptr<PulseConnection> connection;
    const auto deadline = PulseConnection::Clock::now() + std::chrono::seconds(3);
    ASSERT_EQ(PulseConnection::open(connection, {}, deadline), MMSYSERR_NOERROR)
        << "no sound server answers at " << qgetenv("PULSE_SERVER").toStdString();
}

void SoundServerTest::TearDown()
{
    if (lock_ >= 0)
        ::close(lock_); // releases the lock
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

PrivateNullSink::PrivateNullSink(const QString& name) : name_(name)
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                           QStringLiteral("sink_name=") + name});
    if (pactl.waitForFinished(10000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0)
        module_ = QString::fromLatin1(pactl.readAllStandardOutput()).trimmed();
}

PrivateNullSink::~PrivateNullSink()
{
    if (!module_.isEmpty())
        runTool(QStringLiteral("pactl"), {QStringLiteral("unload-module"), module_});
}

double PrivateNullSink::configuredLatencyUsec() const
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"),
                {QStringLiteral("--format=json"), QStringLiteral("list"), QStringLiteral("sinks")});
    if (!pactl.waitForFinished(10000) || pactl.exitStatus() != QProcess::NormalExit || pactl.exitCode() != 0)
        return -1;
    const QJsonArray sinks = QJsonDocument::fromJson(pactl.readAllStandardOutput()).array();
    for (const QJsonValue& sink : sinks) {
        if (sink[QStringLiteral("name")].toString() == name_)
            return sink[QStringLiteral("latency")][QStringLiteral("configured")].toDouble(-1);
    }
    return -1;
}

namespace {

QByteArray outputOf(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(10000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return {};
    return tool.readAllStandardOutput();
}

} // namespace

bool soundServerIsPipeWire()
{
    static const bool pipeWire = outputOf(QStringLiteral("pactl"), {QStringLiteral("info")}).contains("on PipeWire");
    return pipeWire;
}

double pipeWirePeriodAskedUsec(const QString& mediaName)
{
    const QJsonArray objects = QJsonDocument::fromJson(outputOf(QStringLiteral("pw-dump"), {})).array();
    for (const QJsonValue& object : objects) {
        const QJsonValue props = object[QStringLiteral("info")][QStringLiteral("props")];
        if (props[QStringLiteral("media.name")].toString() != mediaName ||
            props[QStringLiteral("media.class")].toString() != QStringLiteral("Stream/Output/Audio"))
            continue;
        // "samples/rate", as the PulseAudio server turned the stream's refill size into it.
        const QStringList latency = props[QStringLiteral("node.latency")].toString().split(u'/');
        if (latency.size() != 2 || latency[1].toDouble() <= 0)
            return -1;
        return latency[0].toDouble() / latency[1].toDouble() * 1e6;
    }
    return -1;
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

EncodedSpeech encodeSpeech()
{
    std::vector<std::uint8_t> pcm = speech().samples;
    pcm.resize((pcm.size() / GsmCodec::kBlockSamples + 1) * GsmCodec::kBlockSamples, 0x80);
    EncodedSpeech result;
    GsmCodec encoder, decoder;
    std::array<std::uint8_t, GsmCodec::kBlockBytes> block;
    std::array<std::int16_t, GsmCodec::kBlockSamples> sound;
    for (std::size_t at = 0; at < pcm.size(); at += GsmCodec::kBlockSamples) {
        encoder.encodeBlockU8(std::span<const std::uint8_t, GsmCodec::kBlockSamples>(pcm.data() + at,
                                                                                     GsmCodec::kBlockSamples),
                              block);
        decoder.decodeBlock(block, sound);
        result.blocks.insert(result.blocks.end(), block.begin(), block.end());
        result.decoded.insert(result.decoded.end(), sound.begin(), sound.end());
    }
    return result;
}

SpeakerRecorder::SpeakerRecorder() : path_(dir_.filePath(QStringLiteral("heard.s16")))
{
    process_.start(QStringLiteral("parecord"),
                   {QStringLiteral("-d"), QStringLiteral("speaker.monitor"), QStringLiteral("--raw"),
                    QStringLiteral("--format=s16le"), QStringLiteral("--rate=8000"), QStringLiteral("--channels=1"),
                    QStringLiteral("--latency-msec=20"), path_});
}

SpeakerRecorder::~SpeakerRecorder()
{
    stop();
}

bool SpeakerRecorder::started()
{
    return process_.waitForStarted();
}

std::vector<std::int16_t> SpeakerRecorder::stop()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        process_.waitForFinished(5000);
    }
    // To listen to what a failing test heard.
    if (!qEnvironmentVariableIsEmpty("KAVELO_KEEP_RECORDING"))
        QFile::copy(path_, qEnvironmentVariable("KAVELO_KEEP_RECORDING"));
    QFile file(path_);
    std::vector<std::int16_t> heard;
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        heard.resize(static_cast<std::size_t>(bytes.size()) / 2);
        std::memcpy(heard.data(), bytes.data(), heard.size() * 2);
    }
    return heard;
}

void feedSpeechToMicrophone()
{
    QProcess feed;
    feed.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("micfeed"), speech().wavPath});
    ASSERT_TRUE(feed.waitForStarted()) << "paplay does not start";
    ASSERT_TRUE(processEventsUntil([&] { return feed.state() == QProcess::NotRunning; }, 30000));
    ASSERT_EQ(feed.exitCode(), 0) << feed.readAllStandardError().toStdString();
}

namespace {

bool loud(std::uint8_t sample)
{
    return std::abs(static_cast<int>(sample) - 128) > 8;
}

} // namespace

double spokenBuffers(std::size_t bufferBytes)
{
    const auto& fed = speech().samples;
    const auto first = std::find_if(fed.begin(), fed.end(), loud);
    const auto last = std::find_if(fed.rbegin(), fed.rend(), loud);
    if (first == fed.end())
        return 0;
    return static_cast<double>(last.base() - first) / static_cast<double>(bufferBytes);
}

int loudBufferSpan(const std::vector<std::uint8_t>& recorded, std::size_t bufferBytes)
{
    int first = -1, last = -1;
    for (std::size_t i = 0; i * bufferBytes < recorded.size(); ++i) {
        const auto begin = recorded.begin() + static_cast<std::ptrdiff_t>(i * bufferBytes);
        const auto end = recorded.begin() + static_cast<std::ptrdiff_t>(std::min((i + 1) * bufferBytes, recorded.size()));
        if (std::any_of(begin, end, loud)) {
            if (first < 0)
                first = static_cast<int>(i);
            last = static_cast<int>(i);
        }
    }
    return first < 0 ? 0 : last - first + 1;
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

struct Alignment {
    double correlation = -1;
    std::ptrdiff_t lag = 0;
};

Alignment bestAlignment(const std::vector<double>& reference, const std::vector<double>& recording,
                        std::ptrdiff_t from, std::ptrdiff_t to, std::ptrdiff_t step = 4)
{
    // Coarse steps first, then every lag around the best of them.
    Alignment best;
    for (std::ptrdiff_t lag = from; lag <= to; lag += step)
        if (const double c = correlationAt(reference, recording, lag); c > best.correlation)
            best = {c, lag};
    const std::ptrdiff_t coarse = best.lag;
    for (std::ptrdiff_t lag = coarse - step; lag <= coarse + step; ++lag)
        if (const double c = correlationAt(reference, recording, lag); c > best.correlation)
            best = {c, lag};
    return best;
}

} // namespace

double alignedCorrelation(const std::vector<double>& reference, const std::vector<double>& recording)
{
    const std::ptrdiff_t guess = onset(recording) - onset(reference);
    return bestAlignment(reference, recording, guess - 400, guess + 400).correlation;
}

double piecewiseCorrelation(const std::vector<double>& reference, const std::vector<double>& recording)
{
    // Pieces short enough that most hold no place where the playout buffer
    // made the sound a pitch period shorter or longer. Every piece is looked
    // for within the playout buffer's reach of where the first one was heard
    // (never more than half a second later), at every lag: a piece matched at
    // a wrong place must not move the search for all the pieces after it, and
    // a coarse step can miss the peak of a short piece.
    constexpr std::size_t kPiece = 400;
    constexpr std::ptrdiff_t kEarlierBy = 400;
    constexpr std::ptrdiff_t kLaterBy = 4000;
    double peak = 0;
    for (double s : reference)
        peak = std::max(peak, std::abs(s));
    const std::ptrdiff_t guess = onset(recording) - onset(reference);
    std::ptrdiff_t from = guess - 400;
    std::ptrdiff_t to = guess + 8000;
    std::vector<double> correlations;
    for (std::size_t at = 0; at + kPiece <= reference.size(); at += kPiece) {
        const std::vector<double> piece(reference.begin() + static_cast<std::ptrdiff_t>(at),
                                        reference.begin() + static_cast<std::ptrdiff_t>(at + kPiece));
        // Quiet pieces say little about what was heard.
        if (std::none_of(piece.begin(), piece.end(), [&](double s) { return std::abs(s) > 0.2 * peak; }))
            continue;
        const auto start = static_cast<std::ptrdiff_t>(at);
        const Alignment found = bestAlignment(piece, recording, start + from, start + to, 1);
        correlations.push_back(found.correlation);
        if (correlations.size() == 1) {
            const std::ptrdiff_t firstHeardAt = found.lag - start;
            from = firstHeardAt - kEarlierBy;
            to = firstHeardAt + kLaterBy;
        }
    }
    if (correlations.empty())
        return 0;
    std::sort(correlations.begin(), correlations.end());
    return correlations[correlations.size() / 2];
}

} // namespace kavelo::test
