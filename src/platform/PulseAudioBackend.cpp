// Placeholder until the PulseAudio backend lands: reports that no device exists.
#include "platform/PulseAudioBackend.h"

namespace kavelo {
namespace {
class NoAudio : public AudioBackend {
public:
    MMRESULT openWaveIn(std::unique_ptr<WaveInDevice>&, const WaveFormat&, std::shared_ptr<NotificationTarget>) override
    {
        return MMSYSERR_BADDEVICEID;
    }
    MMRESULT openWaveOut(std::unique_ptr<WaveOutDevice>&, const WaveFormat&, std::shared_ptr<NotificationTarget>) override
    {
        return MMSYSERR_BADDEVICEID;
    }
};
} // namespace

std::shared_ptr<AudioBackend> makePulseAudioBackend() { return std::make_shared<NoAudio>(); }

} // namespace kavelo
