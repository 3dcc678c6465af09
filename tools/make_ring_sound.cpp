// Writes the ring sound: a two-tone double ring, played twice, as a 16-bit mono WAV.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

constexpr int kRate = 22050;

void appendLE(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void appendTone(std::vector<std::int16_t>& samples, double seconds)
{
    const int count = static_cast<int>(seconds * kRate);
    const int fade = kRate / 100;  // 10 ms ramps keep the bursts free of clicks
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double envelope = std::min({1.0, static_cast<double>(i) / fade,
                                          static_cast<double>(count - i) / fade});
        const double tone = std::sin(2 * std::numbers::pi * 400 * t) + std::sin(2 * std::numbers::pi * 450 * t);
        samples.push_back(static_cast<std::int16_t>(tone * envelope * 0.35 * 32767 / 2));
    }
}

void appendSilence(std::vector<std::int16_t>& samples, double seconds)
{
    samples.insert(samples.end(), static_cast<std::size_t>(seconds * kRate), 0);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    std::vector<std::int16_t> samples;
    for (int ring = 0; ring < 2; ++ring) {
        appendTone(samples, 0.4);
        appendSilence(samples, 0.2);
        appendTone(samples, 0.4);
        appendSilence(samples, 2.0);
    }

    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::vector<std::uint8_t> file;
    for (char c : {'R', 'I', 'F', 'F'}) file.push_back(static_cast<std::uint8_t>(c));
    appendLE(file, 36 + dataBytes, 4);
    for (char c : {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}) file.push_back(static_cast<std::uint8_t>(c));
    appendLE(file, 16, 4);
    appendLE(file, 1, 2);            // PCM
    appendLE(file, 1, 2);            // mono
    appendLE(file, kRate, 4);
    appendLE(file, kRate * 2, 4);    // bytes per second
    appendLE(file, 2, 2);            // block alignment
    appendLE(file, 16, 2);           // bits per sample
    for (char c : {'d', 'a', 't', 'a'}) file.push_back(static_cast<std::uint8_t>(c));
    appendLE(file, dataBytes, 4);
    for (std::int16_t s : samples)
        appendLE(file, static_cast<std::uint16_t>(s), 2);

    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    const bool closed = std::fclose(out) == 0;
    return written && closed ? 0 : 1;
}
