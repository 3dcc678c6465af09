#pragma once

#include <pulse/sample.h>

struct pa_stream;

namespace kavelo {

// Connects a playback stream to `sink` (nullptr: the default) so that the
// server holds about `targetUsec` of sound ahead of the speaker and asks for
// more in pieces of `requestUsec`. It plays as soon as anything is there, and
// after running dry waits for more instead of skipping ahead: sound that comes
// late plays late but whole. The result of pa_stream_connect_playback.
int connectPlaybackStream(pa_stream* stream, const pa_sample_spec& spec, const char* sink, pa_usec_t targetUsec,
                          pa_usec_t requestUsec);

} // namespace kavelo
