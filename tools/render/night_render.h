// The offline renderer: the real generator on the sim platform, capturing what
// the simulated device plays, block by block as each block finishes, and
// streaming it to a sink. Nothing of the night is held in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/options.h"
#include "platform/sim/sim_clock.h"

namespace velmora::render {

enum class RenderMode {
  kProgramme,             // the programme alone, started at once (as the word ".")
  kHealingThenProgramme,  // healing for a while, then Enter, then the programme
  kHealingOnly,           // the healing pattern alone, for a while
};

struct RenderRequest {
  std::vector<std::string> words;  // option words
  int32_t atSeconds = 0;           // the clock at start-up (moon, labels)
  RenderMode mode = RenderMode::kProgramme;
  int32_t healingSeconds = 0;  // healing before Enter, or the healing-only length
  // Internal: stop after this many pulses of the generator (0 = no limit).
  int64_t pulseLimit = 0;
};

// Receives the samples in order. Returns false when it cannot take them (the
// render then stops and reports the sink's error).
class SampleSink {
 public:
  virtual ~SampleSink() = default;
  virtual bool Write(const uint8_t* samples, size_t count) = 0;
};

struct RenderProgress {
  int64_t samplesWritten;
  int64_t expectedSamples;  // the plan's estimate (0 in healing-only mode)
};

struct RenderResult {
  bool ok = false;
  std::string error;           // why not, when !ok
  int64_t samples = 0;         // samples handed to the sink
  int64_t programmeStart = 0;  // the programme's start position in the generator's count
  int64_t programmeEnd = 0;    // and its end position
  int64_t steps = 0;           // programme steps
  int64_t pulses = 0;          // generator pulses, healing included
  int32_t cycles = 0;          // cycles begun by the programme
  int32_t planMinutes = 0;
  int32_t remCount = 0, timePlus = 0, moonFactor = 0;
  bool toneMode = false;
  std::vector<std::string> notes;  // settings the bounds moved, words not applied
};

RenderResult RenderNight(const RenderRequest& request, SampleSink& sink,
                         const std::function<void(const RenderProgress&)>& progress = {});

}  // namespace velmora::render
