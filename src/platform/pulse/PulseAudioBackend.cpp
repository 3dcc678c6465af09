#include "platform/pulse/PulseAudioBackend.h"

#include "platform/pulse/EchoPath.h"
#include "platform/pulse/PulseWaveIn.h"
#include "platform/pulse/PulsePcmOutput.h"
#include "platform/pulse/PulseVoiceOutput.h"

namespace kavelo {
namespace {

class PulseAudioBackend final : public AudioBackend {
public:
    explicit PulseAudioBackend(PulseEndpoints endpoints) : endpoints_(std::move(endpoints)) {}

    MMRESULT openWaveIn(std::unique_ptr<WaveInDevice>& device, const WaveFormat& format,
                        std::shared_ptr<NotificationTarget> notify) override
    {
        return PulseWaveIn::open(device, format, std::move(notify), endpoints_.server, endpoints_.source,
                                 endpoints_.cleanMicrophone ? echo_ : nullptr);
    }

    MMRESULT openWaveOut(std::unique_ptr<WaveOutDevice>& device, const WaveFormat& format,
                         std::shared_ptr<NotificationTarget> notify) override
    {
        // A call's voice comes as GSM 6.10 and goes through the playout; plain
        // PCM (the ring sound) is played as it is written.
        const std::optional<PulseStreamFormat> playback = playbackFormat(format);
        if (!playback)
            return WAVERR_BADFORMAT;
        if (playback->gsm)
            return PulseVoiceOutput::open(device, *playback, std::move(notify), endpoints_.server, endpoints_.sink,
                                          echo_);
        return PulsePcmOutput::open(device, *playback, std::move(notify), endpoints_.server, endpoints_.sink);
    }

    void setEchoCancellation(bool on) override { echo_->setCancelling(on); }

private:
    const PulseEndpoints endpoints_;
    // Shared by the call's speaker and microphone, and kept from call to
    // call: the room does not change, so a new call starts with it learnt.
    const std::shared_ptr<EchoPath> echo_ = std::make_shared<EchoPath>();
};

} // namespace

std::shared_ptr<AudioBackend> makePulseAudioBackend(PulseEndpoints endpoints)
{
    return std::make_shared<PulseAudioBackend>(std::move(endpoints));
}

} // namespace kavelo
