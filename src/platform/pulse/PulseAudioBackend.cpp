#include "platform/pulse/PulseAudioBackend.h"

#include "platform/pulse/PulseWaveIn.h"
#include "platform/pulse/PulseWaveOut.h"

namespace kavelo {
namespace {

class PulseAudioBackend final : public AudioBackend {
public:
    explicit PulseAudioBackend(PulseEndpoints endpoints) : endpoints_(std::move(endpoints)) {}

    MMRESULT openWaveIn(std::unique_ptr<WaveInDevice>& device, const WaveFormat& format,
                        std::shared_ptr<NotificationTarget> notify) override
    {
        return PulseWaveIn::open(device, format, std::move(notify), endpoints_.server, endpoints_.source);
    }

    MMRESULT openWaveOut(std::unique_ptr<WaveOutDevice>& device, const WaveFormat& format,
                         std::shared_ptr<NotificationTarget> notify) override
    {
        return PulseWaveOut::open(device, format, std::move(notify), endpoints_.server, endpoints_.sink);
    }

private:
    const PulseEndpoints endpoints_;
};

} // namespace

std::shared_ptr<AudioBackend> makePulseAudioBackend(PulseEndpoints endpoints)
{
    return std::make_shared<PulseAudioBackend>(std::move(endpoints));
}

} // namespace kavelo
