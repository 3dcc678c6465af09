// Latency of the PulseAudio devices on the private headless server
// (scripts/with-pulse.sh; started automatically when PULSE_SERVER is unset):
//
//  capture:  a tone burst is written to the null sink "micfeed" whose monitor is
//            the default source; measured from that write to the delivery of the
//            2000-byte buffer holding the burst's first sample ("fed_to_buffer"),
//            and to the delivery minus the buffer's sound still to come after
//            that sample ("buffer_end_to_delivery": how late a full buffer arrives).
//  playback: a GSM 6.10 write of 390 bytes (six blocks) whose sound starts with
//            a tone; measured from the write to the moment the tone is heard on
//            "speaker.monitor" through a listener with 10 ms buffers; once after
//            a pause, once in a stream of datagrams at a call's pace.
//
// Both include the path that feeds or listens (a playback or capture stream on
// the same server). Medians over the trials are reported in ms.

#include "voice/GsmCodec.h"
#include "platform/pulse/PulseAudioBackend.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kavelo {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTrials = 15;
constexpr int kLoud = 40; // distance from silence (0x80) that counts as the tone

// Records the moment each message is posted, on the device's own thread.
class StampedTarget : public NotificationTarget {
public:
    struct Posted {
        Clock::time_point at;
        NotificationMessage message;
    };

    void post(const NotificationMessage& message) override
    {
        std::lock_guard lock(mutex_);
        posted_.push_back({Clock::now(), message});
        arrived_.notify_one();
    }

    std::optional<Posted> take(Clock::time_point deadline)
    {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_until(lock, deadline, [this] { return !posted_.empty(); }))
            return std::nullopt;
        Posted first = posted_.front();
        posted_.pop_front();
        return first;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Posted> posted_;
};

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
    format.setExtraSize(2);
    format.setExtraU16(0, 320);
    return format;
}

std::vector<std::uint8_t> tone(std::size_t samples)
{
    std::vector<std::uint8_t> sound(samples);
    for (std::size_t i = 0; i < samples; ++i)
        sound[i] = static_cast<std::uint8_t>(128 + 90 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / 8000));
    return sound;
}

// One voice datagram: six GSM 6.10 blocks, 240 ms of sound.
std::vector<std::uint8_t> datagram(GsmCodec& encoder, const std::vector<std::uint8_t>& sound)
{
    std::vector<std::uint8_t> blocks(6 * GsmCodec::kBlockBytes);
    for (std::size_t b = 0; b < 6; ++b)
        encoder.encodeBlockU8(
            std::span<const std::uint8_t, GsmCodec::kBlockSamples>(sound.data() + b * GsmCodec::kBlockSamples,
                                                                   GsmCodec::kBlockSamples),
            std::span<std::uint8_t, GsmCodec::kBlockBytes>(blocks.data() + b * GsmCodec::kBlockBytes,
                                                           GsmCodec::kBlockBytes));
    return blocks;
}

// A capture device whose buffers circulate; tells when the tone arrives.
class Listener {
public:
    struct Heard {
        Clock::time_point delivered;
        std::size_t samplesAfter; // in the same buffer, after the tone's first sample
    };

    Listener(AudioBackend& backend, std::size_t bufferBytes, std::size_t count)
        : target_(std::make_shared<StampedTarget>()), buffers_(count, std::vector<char>(bufferBytes)),
          headers_(count)
    {
        if (backend.openWaveIn(device_, pcm8kU8(), target_) != MMSYSERR_NOERROR)
            return;
        for (std::size_t i = 0; i < count; ++i) {
            headers_[i].lpData = buffers_[i].data();
            headers_[i].dwBufferLength = static_cast<std::uint32_t>(bufferBytes);
            device_->prepareHeader(headers_[i]);
            device_->addBuffer(headers_[i]);
        }
        device_->start();
    }
    ~Listener()
    {
        if (device_) {
            device_->reset();
            device_->close();
        }
    }
    bool ok() const { return device_ != nullptr; }

    // The first buffer delivered by `deadline` that holds the tone.
    std::optional<Heard> waitForTone(Clock::time_point deadline)
    {
        while (auto posted = target_->take(deadline)) {
            auto* header = reinterpret_cast<WaveHeader*>(posted->message.lParam);
            std::optional<Heard> heard;
            for (std::uint32_t i = 0; i < header->dwBytesRecorded && !heard; ++i)
                if (std::abs(static_cast<std::uint8_t>(header->lpData[i]) - 128) > kLoud)
                    heard = Heard{posted->at, header->dwBytesRecorded - i};
            requeue(*header);
            if (heard)
                return heard;
        }
        return std::nullopt;
    }

    // Lets buffers go by for a while, so the next tone starts from silence.
    void skip(std::chrono::milliseconds time)
    {
        const auto until = Clock::now() + time;
        while (auto posted = target_->take(until))
            requeue(*reinterpret_cast<WaveHeader*>(posted->message.lParam));
    }

private:
    void requeue(WaveHeader& header)
    {
        device_->unprepareHeader(header);
        header.dwBytesRecorded = 0;
        header.dwFlags = 0;
        device_->prepareHeader(header);
        device_->addBuffer(header);
    }

    std::shared_ptr<StampedTarget> target_;
    std::unique_ptr<WaveInDevice> device_;
    std::vector<std::vector<char>> buffers_;
    std::vector<WaveHeader> headers_;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void BM_CaptureLatency(benchmark::State& state)
{
    auto program = makePulseAudioBackend();
    auto feeder = makePulseAudioBackend({.server = {}, .source = {}, .sink = "micfeed"});
    std::vector<double> fedToBuffer, bufferEndToDelivery;
    for (auto _ : state) {
        Listener listener(*program, 2000, 10); // the program's capture settings
        auto feedTarget = std::make_shared<StampedTarget>();
        std::unique_ptr<WaveOutDevice> feed;
        if (!listener.ok() || feeder->openWaveOut(feed, pcm8kU8(), feedTarget) != MMSYSERR_NOERROR) {
            state.SkipWithError("no sound server (run through scripts/with-pulse.sh)");
            return;
        }
        std::vector<std::uint8_t> burst = tone(800);
        std::deque<WaveHeader> written;
        listener.skip(std::chrono::milliseconds(800));
        for (int trial = 0; trial < kTrials; ++trial) {
            WaveHeader& header = written.emplace_back();
            header.lpData = reinterpret_cast<char*>(burst.data());
            header.dwBufferLength = static_cast<std::uint32_t>(burst.size());
            feed->prepareHeader(header);
            const auto fed = Clock::now();
            feed->write(header);
            if (auto heard = listener.waitForTone(fed + std::chrono::seconds(3))) {
                fedToBuffer.push_back(ms(heard->delivered - fed));
                const auto stillToCome = std::chrono::microseconds(heard->samplesAfter * 125);
                bufferEndToDelivery.push_back(ms(heard->delivered - (fed + stillToCome)));
            }
            listener.skip(std::chrono::milliseconds(700 + 37 * trial % 250)); // tone lands anywhere in a buffer
        }
        feed->reset();
        feed->close();
    }
    state.counters["fed_to_buffer_median_ms"] = median(fedToBuffer);
    state.counters["buffer_end_to_delivery_median_ms"] = median(bufferEndToDelivery);
    state.counters["trials_heard"] = static_cast<double>(fedToBuffer.size());
}

void BM_PlaybackLatency(benchmark::State& state)
{
    auto program = makePulseAudioBackend();
    auto monitor = makePulseAudioBackend({.server = {}, .source = "speaker.monitor", .sink = {}});
    std::vector<double> writeToSpeaker;
    for (auto _ : state) {
        Listener listener(*monitor, 80, 50); // 10 ms buffers
        auto playTarget = std::make_shared<StampedTarget>();
        std::unique_ptr<WaveOutDevice> player;
        if (!listener.ok() || program->openWaveOut(player, gsm610(), playTarget) != MMSYSERR_NOERROR) {
            state.SkipWithError("no sound server (run through scripts/with-pulse.sh)");
            return;
        }
        GsmCodec encoder;
        std::vector<std::uint8_t> blocks = datagram(encoder, tone(6 * GsmCodec::kBlockSamples));
        std::deque<WaveHeader> written;
        listener.skip(std::chrono::milliseconds(800));
        for (int trial = 0; trial < kTrials; ++trial) {
            WaveHeader& header = written.emplace_back();
            header.lpData = reinterpret_cast<char*>(blocks.data());
            header.dwBufferLength = static_cast<std::uint32_t>(blocks.size());
            player->prepareHeader(header);
            const auto played = Clock::now();
            player->write(header);
            if (auto heard = listener.waitForTone(played + std::chrono::seconds(3))) {
                const auto sampleTime = heard->delivered - std::chrono::microseconds(heard->samplesAfter * 125);
                writeToSpeaker.push_back(ms(sampleTime - played));
            }
            listener.skip(std::chrono::milliseconds(600));
        }
        player->reset();
        player->close();
    }
    state.counters["write_to_speaker_median_ms"] = median(writeToSpeaker);
    state.counters["trials_heard"] = static_cast<double>(writeToSpeaker.size());
}

// A talker as a call delivers them: a datagram of 240 ms every 250 ms (the
// capture buffer's last 80 samples are not sent), the tone in every fourth.
void BM_PlaybackLatencyStreaming(benchmark::State& state)
{
    auto program = makePulseAudioBackend();
    auto monitor = makePulseAudioBackend({.server = {}, .source = "speaker.monitor", .sink = {}});
    std::vector<double> writeToSpeaker;
    for (auto _ : state) {
        Listener listener(*monitor, 80, 50);
        auto playTarget = std::make_shared<StampedTarget>();
        std::unique_ptr<WaveOutDevice> player;
        if (!listener.ok() || program->openWaveOut(player, gsm610(), playTarget) != MMSYSERR_NOERROR) {
            state.SkipWithError("no sound server (run through scripts/with-pulse.sh)");
            return;
        }
        GsmCodec encoder;
        const std::vector<std::uint8_t> sound = tone(6 * GsmCodec::kBlockSamples);
        const std::vector<std::uint8_t> quiet(6 * GsmCodec::kBlockSamples, 0x80);
        std::deque<std::vector<std::uint8_t>> data;
        std::deque<WaveHeader> written;
        listener.skip(std::chrono::milliseconds(800));
        const auto period = std::chrono::milliseconds(250);
        auto due = Clock::now();
        Clock::time_point toneWritten{};
        bool listening = false; // for the tone last written
        for (int n = 0; n < 4 * kTrials + 4; ++n) {
            const bool withTone = n >= 4 && n % 4 == 0;
            data.push_back(datagram(encoder, withTone ? sound : quiet));
            WaveHeader& header = written.emplace_back();
            header.lpData = reinterpret_cast<char*>(data.back().data());
            header.dwBufferLength = static_cast<std::uint32_t>(data.back().size());
            player->prepareHeader(header);
            const auto now = Clock::now();
            player->write(header);
            if (withTone) {
                toneWritten = now;
                listening = true;
            }
            due += period;
            if (!listening) {
                listener.skip(std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()));
                continue;
            }
            if (auto heard = listener.waitForTone(due)) {
                const auto sampleTime = heard->delivered - std::chrono::microseconds(heard->samplesAfter * 125);
                writeToSpeaker.push_back(ms(sampleTime - toneWritten));
                if (std::getenv("KAVELO_BENCH_TRACE")) std::fprintf(stderr, "n=%d %.1f\n", n, writeToSpeaker.back());
                listening = false;
                listener.skip(std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()));
            }
        }
        player->reset();
        player->close();
    }
    state.counters["write_to_speaker_median_ms"] = median(writeToSpeaker);
    state.counters["trials_heard"] = static_cast<double>(writeToSpeaker.size());
}

BENCHMARK(BM_CaptureLatency)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaybackLatency)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaybackLatencyStreaming)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavelo

int main(int argc, char** argv)
{
    // Without a server of its own, run again inside a private one.
    if (std::getenv("PULSE_SERVER") == nullptr) {
        const auto script = std::filesystem::path(__FILE__).parent_path().parent_path() / "scripts" / "with-pulse.sh";
        std::vector<char*> args{const_cast<char*>(script.c_str())};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execv(script.c_str(), args.data());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
