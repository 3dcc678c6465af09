// Checks the converter's GSM 06.10 blocks from outside: synthesised speech goes
// through GsmConverter exactly as a call sends it, and an independent decoder
// (ffmpeg's native gsm_ms) must give the speech back.
#include "audio/GsmConverter.h"
#include "voice/GsmCodec.h"
#include "platform/compression/GsmCompressionManager.h"

#include "GsmConverterFormats.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace kavelo {
namespace {

constexpr int kBufferBytes = 2000;        // a quarter second of the call's PCM
constexpr int kEncodedSamples = 1920;     // six whole 320-sample blocks of it
constexpr int kBlocksPerBuffer = 6;

// Runs a tool to its end; returns what went wrong, or an empty text. A missing
// tool is a failure of the test environment, never a reason to skip.
std::string run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return program.toStdString() + " cannot be started (is it installed?): " + process.errorString().toStdString();
    if (!process.waitForFinished(120000))
        return program.toStdString() + " did not finish";
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program.toStdString() + " failed: " + process.readAll().toStdString();
    return {};
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void appendLe(QByteArray& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A WAV file around 65-byte GSM 06.10 blocks, as players expect them.
QByteArray gsmWav(const QByteArray& blocks)
{
    const auto size = static_cast<std::uint32_t>(blocks.size());
    QByteArray fmt;
    appendLe(fmt, kWaveFormatGsm610, 2);
    appendLe(fmt, 1, 2);
    appendLe(fmt, 8000, 4);
    appendLe(fmt, 1625, 4);
    appendLe(fmt, 65, 2);
    appendLe(fmt, 0, 2);
    appendLe(fmt, 2, 2);
    appendLe(fmt, 320, 2);

    QByteArray wav = "RIFF";
    appendLe(wav, 4 + (8 + fmt.size()) + (8 + 4) + (8 + size), 4);
    wav += "WAVEfmt ";
    appendLe(wav, fmt.size(), 4);
    wav += fmt;
    wav += "fact";
    appendLe(wav, 4, 4);
    appendLe(wav, size / 65 * 320, 4);
    wav += "data";
    appendLe(wav, size, 4);
    return wav + blocks;
}

double normalisedCorrelation(const std::vector<double>& a, const std::vector<double>& b)
{
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ab += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

TEST(GsmConformance, SpeechConvertedInCallBuffersDecodesBackWithAnIndependentDecoder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString speech = dir.filePath(QStringLiteral("speech.wav"));
    const QString pcmPath = dir.filePath(QStringLiteral("speech.u8"));
    const QString gsmPath = dir.filePath(QStringLiteral("speech-gsm.wav"));
    const QString decodedPath = dir.filePath(QStringLiteral("decoded.s16"));

    ASSERT_EQ(run(QStringLiteral("espeak-ng"),
                  {QStringLiteral("-w"), speech,
                   QStringLiteral("Hello, can you hear me? The quick brown fox jumps over the lazy dog. "
                                  "Call me back when you are home, we will talk about the weekend.")}),
              "");
    // No dither: the same speech gives the same samples on every run.
    const QStringList toCallPcm = QStringList{QStringLiteral("-D"), speech}
                                + QStringLiteral("-r 8000 -c 1 -b 8 -e unsigned-integer -t raw").split(QLatin1Char(' '))
                                + QStringList{pcmPath, QStringLiteral("norm"), QStringLiteral("-3")};
    ASSERT_EQ(run(QStringLiteral("sox"), toCallPcm), "");
    const QByteArray pcm = readFile(pcmPath);
    const int buffers = static_cast<int>(pcm.size() / kBufferBytes);
    ASSERT_GE(buffers, 12) << "at least three seconds of speech";
    int peak = 0;
    for (const char c : pcm)
        peak = std::max(peak, std::abs(static_cast<std::uint8_t>(c) - 128));
    ASSERT_NEAR(peak, 128 * std::pow(10.0, -3.0 / 20), 4) << "speech peaks at about -3 dBFS";

    GsmConverter convertor(nullptr, std::make_shared<GsmCompressionManager>());
    test::setCallFormats(convertor);
    convertor.setInputBufferSize(kBufferBytes);
    convertor.setActive(true);
    QByteArray blocks;
    for (int b = 0; b < buffers; ++b) {
        std::memcpy(convertor.InputBuffer(), pcm.constData() + b * kBufferBytes, kBufferBytes);
        const int produced = convertor.Convert();
        ASSERT_EQ(produced, 390);
        blocks.append(reinterpret_cast<const char*>(convertor.OutputBuffer()), produced);
    }

    QFile wav(gsmPath);
    ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
    wav.write(gsmWav(blocks));
    wav.close();
    ASSERT_EQ(run(QStringLiteral("ffmpeg"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-c:a"),
                   QStringLiteral("gsm_ms"), QStringLiteral("-i"), gsmPath, QStringLiteral("-f"),
                   QStringLiteral("s16le"), QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"), decodedPath}),
              "");
    const QByteArray decodedBytes = readFile(decodedPath);
    ASSERT_EQ(decodedBytes.size(), qsizetype{2} * buffers * kEncodedSamples);
    const auto* decoded = reinterpret_cast<const std::int16_t*>(decodedBytes.constData());

    // What went in, without the last 80 samples of each buffer that no block carries.
    std::vector<double> sent;
    std::vector<double> heard;
    for (int b = 0; b < buffers; ++b) {
        for (int i = 0; i < kEncodedSamples; ++i) {
            sent.push_back(static_cast<std::uint8_t>(pcm[b * kBufferBytes + i]) - 128.0);
            heard.push_back(qFromLittleEndian(decoded[b * kEncodedSamples + i]));
        }
    }
    const double correlation = normalisedCorrelation(sent, heard);
    RecordProperty("correlation", std::to_string(correlation));
    std::printf("normalised cross-correlation over %d buffers: %.4f\n", buffers, correlation);
    EXPECT_GE(correlation, 0.9);

    // Both decoders read the same well-formed blocks and so agree on every sample.
    GsmCodec codec;
    std::array<std::int16_t, 320> ours;
    for (int k = 0; k < buffers * kBlocksPerBuffer; ++k) {
        ASSERT_TRUE(codec.decodeBlock(
            std::span<const std::uint8_t, 65>(reinterpret_cast<const std::uint8_t*>(blocks.constData()) + 65 * k, 65),
            ours));
        for (int i = 0; i < 320; ++i)
            ASSERT_EQ(ours[i], qFromLittleEndian(decoded[320 * k + i])) << "block " << k << " sample " << i;
    }
}

} // namespace
} // namespace kavelo
