#include "platform/Exception.h"
#include "desktop/MediaPlayer.h"
#include "support/FakeAudioBackend.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sndfile.h>

namespace kavelo::test {
namespace {

using Op = FakeAudioBackend::Op;

class MediaPlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        wavPath = folder.filePath(QStringLiteral("Phone.wav"));
        writeRamp(8000); // one second
    }

    // A rising ramp of `count` samples at 8 kHz.
    void writeRamp(int count)
    {
        SF_INFO info{};
        info.samplerate = 8000;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(wavPath.toLocal8Bit().constData(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        samples.clear();
        for (int i = 0; i < count; ++i)
            samples.push_back(static_cast<short>(i));
        sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
        sf_close(file);
    }

    QTemporaryDir folder;
    QString wavPath;
    std::vector<short> samples;
    InstalledFakeAudio audio;
    MediaPlayer player{nullptr, audio.backend()};
};

TEST_F(MediaPlayerTest, PlaysTheWholeFileWithoutWaitingAndInOrder)
{
    player.FileName = wavPath;
    player.Open();
    ASSERT_TRUE(player.isOpen());
    const WaveFormat& format = audio->openPlayback()->format;
    EXPECT_EQ(format.formatTag(), kWaveFormatPcm);
    EXPECT_EQ(format.samplesPerSec(), 8000u);
    EXPECT_EQ(format.bitsPerSample(), 16);

    player.Play();
    EXPECT_TRUE(player.isPlaying()) << "Play returns while the sound is still queued";
    while (audio->finish()) {
    }
    const QByteArray expected(reinterpret_cast<const char*>(samples.data()),
                              static_cast<qsizetype>(samples.size() * sizeof(short)));
    EXPECT_EQ(audio->played(), expected);
    ASSERT_TRUE(processEventsUntil([this] { return !player.isPlaying(); }));
    EXPECT_TRUE(audio->misuse().isEmpty()) << audio->misuse().join(u'\n').toStdString();
}

// A ring nobody answers must not leave its stream open: the player lets go of
// the device once the sound has ended, and a new ring opens it again.
TEST_F(MediaPlayerTest, ClosesItsDeviceOnceTheSoundHasPlayedToItsEnd)
{
    player.FileName = wavPath;
    player.Open();
    player.Play();
    ASSERT_TRUE(audio->finish());
    processEventsFor(700);
    EXPECT_TRUE(player.isOpen()) << "closed while sound was still queued";
    while (audio->finish()) {
    }
    ASSERT_TRUE(processEventsUntil([this] { return !player.isOpen(); }));
    EXPECT_EQ(audio->count(Op::WaveOutClose), 1);
    EXPECT_EQ(audio->openPlayback(), nullptr);

    player.Open();
    player.Play();
    EXPECT_EQ(audio->count(Op::WaveOutOpen), 2);
    EXPECT_TRUE(audio->misuse().isEmpty()) << audio->misuse().join(u'\n').toStdString();
}

TEST_F(MediaPlayerTest, CloseStopsAndClosingAClosedPlayerDoesNothing)
{
    player.Close();
    EXPECT_EQ(audio->count(Op::WaveOutClose), 0);
    player.FileName = wavPath;
    player.Open();
    player.Play();
    player.Close();
    EXPECT_FALSE(player.isOpen());
    EXPECT_EQ(audio->count(Op::WaveOutReset), 1);
    EXPECT_EQ(audio->count(Op::WaveOutClose), 1);
    player.Close();
    EXPECT_EQ(audio->count(Op::WaveOutClose), 1);
    processEventsFor(30);  // late "done" messages of the stopped pieces are ignored
    EXPECT_TRUE(audio->misuse().isEmpty()) << audio->misuse().join(u'\n').toStdString();
}

TEST_F(MediaPlayerTest, OpeningAnOpenPlayerClosesItFirstAndPlaysFromTheStart)
{
    player.FileName = wavPath;
    player.Open();
    player.Play();
    player.Open();
    EXPECT_EQ(audio->count(Op::WaveOutClose), 1);
    EXPECT_EQ(audio->count(Op::WaveOutOpen), 2);
    player.Play();
    ASSERT_TRUE(audio->finish());
    EXPECT_TRUE(audio->played().startsWith(QByteArray("\0\0\1\0\2\0", 6)));
}

// Every ring opens the player again; the file is read only when it changed.
TEST_F(MediaPlayerTest, TheFileIsDecodedOnceAndAgainOnlyWhenItChanges)
{
    player.FileName = wavPath;
    player.Open();
    player.Close();
    const QDateTime written = QFileInfo(wavPath).lastModified();
    {
        // Same size, same time: the kept sound plays, the file is not read.
        QFile file(wavPath);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek(file.size() - 2));
        ASSERT_EQ(file.write("\x7f\x7f", 2), 2);
        file.close();
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(written, QFileDevice::FileModificationTime));
    }
    player.Open();
    player.Play();
    while (audio->finish()) {
    }
    EXPECT_TRUE(audio->played().endsWith(QByteArray("\x3f\x1f", 2))) << "the kept sound ends as the file did";

    // A newer file is read again, and a file that is gone is reported as gone.
    ASSERT_TRUE(QFile::remove(wavPath));
    writeRamp(400);
    const qsizetype before = audio->played().size();
    player.Open();
    player.Play();
    while (audio->finish()) {
    }
    EXPECT_EQ(audio->played().size() - before, 400 * 2);
    ASSERT_TRUE(QFile::remove(wavPath));
    EXPECT_THROW(player.Open(), Exception);
    EXPECT_FALSE(player.isOpen());
}

TEST_F(MediaPlayerTest, FailuresNameTheFileAndTheReason)
{
    player.FileName = folder.filePath(QStringLiteral("missing.wav"));
    try {
        player.Open();
        FAIL() << "opened a missing file";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("missing.wav")));
    }
    EXPECT_FALSE(player.isOpen());
    EXPECT_THROW(player.Play(), Exception);

    audio->answer(Op::WaveOutOpen, MMSYSERR_BADDEVICEID);
    player.FileName = wavPath;
    try {
        player.Open();
        FAIL() << "opened without a device";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot play the sound file %1: The specified resource does not exist.")
                                   .arg(wavPath));
    }
    EXPECT_FALSE(player.isOpen());
}

} // namespace
} // namespace kavelo::test
