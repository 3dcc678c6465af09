#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kavelo {

// Pitch periods searched in 8 kHz speech: 66-200 Hz voices.
constexpr int kMinPitchPeriod = 40;
constexpr int kMaxPitchPeriod = 120;

// The period p that best continues the sound before `at` into the sound after
// it (x[at-p, at) against x[at, at+p)); `at` needs kMaxPitchPeriod samples on
// either side, else the shortest period is answered.
int findPitchPeriod(std::span<const std::int16_t> sound, int at);

// Makes `sound` longer (wanted > 0) or shorter by repeating or removing whole
// pitch periods with a crossfade, so that a voice keeps its pitch and no
// sample jumps. Where the level changes from one period to the next (an
// onset, a decay) nothing is repeated or removed: that would be heard as a
// second attack or a cut. Changes it by about `wanted` samples, never by more
// than half a period beyond; answers the change made (less where the sound
// offers no place for it).
int stretchByPitchPeriods(std::vector<std::int16_t>& sound, int wanted);

} // namespace kavelo
