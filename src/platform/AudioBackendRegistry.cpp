#include "platform/AudioDevice.h"
#include "platform/pulse/PulseAudioBackend.h"

namespace kavelo {
namespace {

std::shared_ptr<AudioBackend>& installedBackend()
{
    static std::shared_ptr<AudioBackend> backend;
    return backend;
}

} // namespace

std::shared_ptr<AudioBackend> defaultAudioBackend()
{
    auto& backend = installedBackend();
    if (!backend)
        backend = makePulseAudioBackend();
    return backend;
}

void setDefaultAudioBackend(std::shared_ptr<AudioBackend> backend)
{
    installedBackend() = std::move(backend);
}

} // namespace kavelo
