// The pulse and tone writers: what one pulse puts out in each output mode, and
// the two ring operations every sound write uses, the silence fill and the
// pacing wait. Generator thread only.
#pragma once

#include <cstdint>

#include "generator/generator.h"

namespace velmora {

// One pulse of the present step in the present output mode, at the phase's
// write position.
void EmitPulse(Generator& g, Phase phase);

// Sets `count` ring bytes from the ring byte of `position` to 128, wrapping to
// byte 0 at the ring's end.
void FillSilence(Generator& g, int64_t position, int32_t count);

// Returns once `position` is no more than 3000 ms ahead of playedMs, sleeping
// 300 ms at a time (or when the generator is asked to stop).
void WaitForPlayback(Generator& g, int64_t position);

// A spike of a few samples: falling, or rising when invertedPulse is 1.
void WritePulse(Generator& g, int64_t position, int32_t amplitude);

enum class ToneForm { kDifference, kSum };

// `count` samples of the two-train tone.
void WriteTone(Generator& g, int64_t position, int32_t count, int32_t amplitude, ToneForm form);

// One on/off pulse on the port's data register.
void PortPulse(Generator& g, int32_t halfPeriod, int32_t dutyOffset, int32_t amplitude);

// One pulse in light mode with a light level: holds envelopeNow, then 0.
void LightPulse(Generator& g, int32_t halfPeriod, int32_t dutyOffset);

}  // namespace velmora
