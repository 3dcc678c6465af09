#include "platform/pulse/EchoPath.h"

#include <stdexcept>

namespace kavelo {

EchoPath::EchoPath()
{
    try {
        canceller_ = std::make_unique<EchoCanceller>(makeWebRtcEchoEngine());
    } catch (const std::runtime_error&) {
        // Calls still go on, as they would on a headset.
    }
}

bool EchoPath::takes(const pa_sample_spec& spec)
{
    return spec.rate == EchoEngine::kRate && spec.channels == 1;
}

void EchoPath::played(std::span<const std::int16_t> samples, std::optional<double> firstHeardMs)
{
    const std::lock_guard lock(mutex_);
    if (canceller_)
        canceller_->played(samples, firstHeardMs);
}

void EchoPath::record(std::span<const std::int16_t> samples, std::optional<double> firstRecordedMs, std::vector<std::int16_t>& out)
{
    const std::lock_guard lock(mutex_);
    if (canceller_)
        canceller_->record(samples, firstRecordedMs, out);
    else
        out.insert(out.end(), samples.begin(), samples.end());
}

void EchoPath::setCancelling(bool on)
{
    const std::lock_guard lock(mutex_);
    if (canceller_)
        canceller_->setCancelling(on);
}

} // namespace kavelo
