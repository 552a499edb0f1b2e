// The night's lights as rows: the real generator in light mode on the sim
// platform, with one row per change of what the lights show, for any other
// light rig to follow. With a light level a row gives the pattern and its
// level 0..63 (the share of 64 that the light thread keeps lit); without one,
// the pattern and whether it is on. A state that lasts no time gives no row.
// The rows end where the first sleep programme ends (with a level, the light
// thread ends there and the lights stay dark).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/render/night_render.h"

namespace velmora::render {

struct LightRow {
  int64_t timeMs;   // from the start
  uint8_t pattern;  // the byte on the eight lines when lit
  int16_t level;    // 0..63 with a light level; 1 (on) or 0 (off) without one
  bool dimmed;      // the night has a light level: `level` is one
};

struct LightRenderResult {
  bool ok = false;
  std::string error;               // why not, when !ok
  bool notLightMode = false;       // the words ask for sound: nothing to render
  bool dimmed = false;             // rows carry levels, not on/off
  int64_t rows = 0;                // rows handed over
  int64_t endMs = 0;               // the time of the programme's end
  std::vector<std::string> notes;  // settings the bounds moved
};

// `row` returns false when it cannot take the row (the render then stops).
LightRenderResult RenderLights(const RenderRequest& request,
                               const std::function<bool(const LightRow&)>& row);

// One row as a line of the lights file ("1234,255,40" or "1234,255,on").
std::string LightRowText(const LightRow& row);
// The file's first line.
std::string LightHeaderText(bool dimmed);

}  // namespace velmora::render
