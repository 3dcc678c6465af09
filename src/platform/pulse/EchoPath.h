#pragma once

#include "voice/EchoCanceller.h"

#include <pulse/sample.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace kavelo {

// Where a call's speaker and microphone meet: the voice output reports what
// it plays, the capture device has its sound cleaned of it. Each device runs
// on its own connection's thread; the canceller is shared under a lock.
//
// A library that does not start leaves the microphone's sound as it was.
class EchoPath {
public:
    EchoPath();

    // Whether a stream in `spec` is a call's microphone this path can clean:
    // 8 kHz mono, recorded as 16-bit.
    static bool takes(const pa_sample_spec& spec);

    // From any thread.
    void played(std::span<const std::int16_t> samples, std::optional<double> firstHeardMs);
    void record(std::span<const std::int16_t> samples, std::optional<double> firstRecordedMs, std::vector<std::int16_t>& out);
    // Takes effect from the next frame.
    void setCancelling(bool on);

private:
    std::mutex mutex_;
    std::unique_ptr<EchoCanceller> canceller_;
};

} // namespace kavelo
