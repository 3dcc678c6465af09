#include "voice/EchoEngine.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <algorithm>
#include <stdexcept>

namespace kavelo {
namespace {

class WebRtcEchoEngine final : public EchoEngine {
public:
    WebRtcEchoEngine()
    {
        webrtc::Config config;
        // The older level control honours the mode and target set below; the
        // newer one would drive an analog microphone volume we do not have.
        config.Set<webrtc::ExperimentalAgc>(new webrtc::ExperimentalAgc(false));
        // The reference comes aligned to within a few milliseconds; the longer
        // filter covers rooms, and sound servers that hold more than expected.
        config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
        config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
        processing_.reset(webrtc::AudioProcessing::Create(config));
        if (!processing_)
            throw std::runtime_error("audio processing could not start");
        const webrtc::StreamConfig mono(kRate, 1);
        check(processing_->Initialize(webrtc::ProcessingConfig{{mono, mono, mono, mono}}));
        check(processing_->high_pass_filter()->Enable(true));
        auto* echo = processing_->echo_cancellation();
        // The stronger levels take no more of the echo out once the filter has
        // learnt the room, but take 5 to 12 dB off a near talker who speaks
        // over the far side; the low one under 3 dB.
        check(echo->set_suppression_level(webrtc::EchoCancellation::kLowSuppression));
        check(echo->Enable(true));
        // Steady noise (a fan, hum) comes out about 9 dB lower against the
        // talk. A stronger level takes 15 dB, but also most of a held vowel.
        check(processing_->noise_suppression()->set_level(webrtc::NoiseSuppression::kModerate));
        check(processing_->noise_suppression()->Enable(true));
        auto* level = processing_->gain_control();
        check(level->set_mode(webrtc::GainControl::kAdaptiveDigital));
        check(level->set_target_level_dbfs(kTargetLevelDbfs));
        check(level->set_compression_gain_db(kCompressionGainDb));
        check(level->enable_limiter(true));
        check(level->Enable(true));
        for (webrtc::AudioFrame* frame : {&reference_, &microphone_}) {
            frame->sample_rate_hz_ = kRate;
            frame->num_channels_ = 1;
            frame->samples_per_channel_ = kFrameSamples;
        }
    }

    void process(ConstFrame reference, Frame microphone, bool cancelEcho) override
    {
        auto* echo = processing_->echo_cancellation();
        if (echo->is_enabled() != cancelEcho)
            echo->Enable(cancelEcho);
        if (cancelEcho) {
            std::copy(reference.begin(), reference.end(), reference_.data_);
            processing_->ProcessReverseStream(&reference_);
        }
        std::copy(microphone.begin(), microphone.end(), microphone_.data_);
        // The reference is already aligned with the microphone: nothing more
        // to allow for between them.
        processing_->set_stream_delay_ms(0);
        // A refused frame leaves the microphone's own sound in place.
        if (processing_->ProcessStream(&microphone_) == webrtc::AudioProcessing::kNoError)
            std::copy_n(microphone_.data_, kFrameSamples, microphone.begin());
    }

private:
    // A talker at an ordinary distance comes out about 6 dB below full scale
    // (plenty for 8-bit sound), a quiet one raised by up to 9 dB.
    static constexpr int kTargetLevelDbfs = 6;
    static constexpr int kCompressionGainDb = 9;

    static void check(int result)
    {
        if (result != webrtc::AudioProcessing::kNoError)
            throw std::runtime_error("audio processing refused its settings");
    }

    std::unique_ptr<webrtc::AudioProcessing> processing_;
    webrtc::AudioFrame reference_;
    webrtc::AudioFrame microphone_;
};

} // namespace

std::unique_ptr<EchoEngine> makeWebRtcEchoEngine()
{
    return std::make_unique<WebRtcEchoEngine>();
}

} // namespace kavelo
