#include "platform/pulse/PlaybackStream.h"

#include <pulse/stream.h>

#include <cstdint>
#include <cstring>

namespace kavelo {

int connectPlaybackStream(pa_stream* stream, const pa_sample_spec& spec, const char* sink, pa_usec_t targetUsec,
                          pa_usec_t requestUsec)
{
    pa_buffer_attr attr;
    std::memset(&attr, 0xFF, sizeof attr); // the server's choice where not set below
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(targetUsec, &spec));
    attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(requestUsec, &spec));
    attr.prebuf = static_cast<std::uint32_t>(pa_frame_size(&spec));
    // Timing kept current, so that the stream can say when what it writes will be heard.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING
                                                      | PA_STREAM_AUTO_TIMING_UPDATE);
    return pa_stream_connect_playback(stream, sink, &attr, flags, nullptr, nullptr);
}

} // namespace kavelo
