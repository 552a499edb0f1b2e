// The set-up that the sound render and the lights render share: the night's
// settings as velmora's start-up makes them, the Enter key, and the notes on
// settings the bounds moved.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "platform/sim/sim_clock.h"
#include "tools/render/night_render.h"

namespace velmora {
class SimSoundRun;
}

namespace velmora::render {

// The moon of the request's clock, then the option words; the programme at
// once unless the request starts with healing. What the bounds moved.
BoundReport SetUpNight(const RenderRequest& request, SharedState& state, SimClock& clock);

// Enter during healing, `seconds` from now, as the key does.
void PressEnterAfter(SimSoundRun& run, int32_t seconds);

// One line per setting that the bounds moved.
std::vector<std::string> BoundNotes(const BoundReport& bounds);

}  // namespace velmora::render
