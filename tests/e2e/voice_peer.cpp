// A talking peer for whole-program tests: sends a sound file to a Kavelo as
// voice datagrams, the way a peer with a given capture buffer would, over a
// network with the given jitter and loss.
//
//   kavelo_voice_peer TARGET_ADDRESS SOUND.raw [options]
//     --port N          receiving port (5552)
//     --buffer N        samples per captured buffer (1920; 2000 drops 80 after each datagram)
//     --period MS       time between datagrams (buffer / 8 ms)
//     --jitter MS       sigma of a half-normal network delay per datagram (0)
//     --loss SHARE      share of datagrams lost (0)
//     --seed N          for jitter and loss (1)
//
// SOUND.raw is 8000 Hz signed 16-bit little-endian mono. Each datagram carries
// the whole 65-byte GSM 06.10 blocks of one buffer, through one encoder state.
// Prints one JSON line: datagrams sent and lost, first and last send times.
#include "voice/GsmCodec.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
    std::string target;
    std::string soundPath;
    int port = 5552;
    int bufferSamples = 1920;
    double periodMs = -1;
    double jitterMs = 0;
    double loss = 0;
    unsigned seed = 1;
};

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr, "kavelo_voice_peer: %s\n", why);
    std::exit(2);
}

Options parse(int argc, char** argv)
{
    if (argc < 3)
        usage("usage: kavelo_voice_peer TARGET_ADDRESS SOUND.raw [--port N] [--buffer N] [--period MS] "
              "[--jitter MS] [--loss SHARE] [--seed N]");
    Options options;
    options.target = argv[1];
    options.soundPath = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--port")
            options.port = std::atoi(value);
        else if (name == "--buffer")
            options.bufferSamples = std::atoi(value);
        else if (name == "--period")
            options.periodMs = std::atof(value);
        else if (name == "--jitter")
            options.jitterMs = std::atof(value);
        else if (name == "--loss")
            options.loss = std::atof(value);
        else if (name == "--seed")
            options.seed = static_cast<unsigned>(std::atoi(value));
        else
            usage(("unknown option " + name).c_str());
    }
    if (options.bufferSamples < int(kavelo::GsmCodec::kBlockSamples))
        usage("a buffer must hold at least one block");
    if (options.periodMs < 0)
        options.periodMs = options.bufferSamples / 8.0;
    return options;
}

std::vector<std::int16_t> readSound(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        usage(("cannot read " + path).c_str());
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

struct Datagram {
    double sendMs;
    std::vector<std::uint8_t> bytes;
};

} // namespace

int main(int argc, char** argv)
{
    using kavelo::GsmCodec;
    const Options options = parse(argc, argv);
    const std::vector<std::int16_t> sound = readSound(options.soundPath);

    // What the peer captures, encodes and sends, and when each datagram arrives.
    kavelo::GsmCodec encoder;
    std::mt19937 random(options.seed);
    std::normal_distribution<double> jitter(0, 1);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Datagram> datagrams;
    int lost = 0;
    const std::size_t blocks = std::size_t(options.bufferSamples) / GsmCodec::kBlockSamples;
    for (std::size_t at = 0, k = 0; at + std::size_t(options.bufferSamples) <= sound.size();
         at += std::size_t(options.bufferSamples), ++k) {
        Datagram datagram;
        datagram.bytes.resize(blocks * GsmCodec::kBlockBytes);
        for (std::size_t b = 0; b < blocks; ++b)
            encoder.encodeBlock(
                std::span<const std::int16_t, GsmCodec::kBlockSamples>(sound.data() + at + b * GsmCodec::kBlockSamples,
                                                                       GsmCodec::kBlockSamples),
                std::span<std::uint8_t, GsmCodec::kBlockBytes>(datagram.bytes.data() + b * GsmCodec::kBlockBytes,
                                                               GsmCodec::kBlockBytes));
        datagram.sendMs = double(k) * options.periodMs + std::abs(jitter(random)) * options.jitterMs;
        if (unit(random) < options.loss) {
            ++lost;
            continue;
        }
        datagrams.push_back(std::move(datagram));
    }
    std::stable_sort(datagrams.begin(), datagrams.end(),
                     [](const Datagram& a, const Datagram& b) { return a.sendMs < b.sendMs; });

    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(options.port));
    if (socket < 0 || inet_pton(AF_INET, options.target.c_str(), &to.sin_addr) != 1)
        usage("cannot make a socket for that address");

    const auto start = std::chrono::steady_clock::now();
    for (const Datagram& datagram : datagrams) {
        std::this_thread::sleep_until(start + std::chrono::duration<double, std::milli>(datagram.sendMs));
        if (sendto(socket, datagram.bytes.data(), datagram.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                   sizeof to)
            < 0)
            std::perror("sendto");
    }
    ::close(socket);
    std::printf("{\"sent\": %zu, \"lost\": %d, \"seconds\": %.3f}\n", datagrams.size(), lost,
                datagrams.empty() ? 0.0 : datagrams.back().sendMs / 1000);
    return 0;
}
