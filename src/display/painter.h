// Painting: the four status rows, the night-plan chart with its two curves,
// the blinking cursor and the key help, drawn region by region into the
// off-screen bitmap as RepaintFlags ask, and put on the window.
//
// Thread safety: window thread only.
#pragma once

#include <array>
#include <string>

#include "app/shared_state.h"
#include "platform/canvas.h"
#include "platform/clock.h"
#include "platform/window_host.h"

namespace velmora {

// The three colour ramps of 64 steps: grey (pens of width 1), yellow and cyan
// (pens of width 2), each also a brush.
struct DrawingObjects {
  std::array<Color, 64> grey{};
  std::array<Color, 64> yellow{};
  std::array<Color, 64> cyan{};
  static constexpr int kGreyPenWidth = 1;
  static constexpr int kCurvePenWidth = 2;
};

// The help area's own lines: the credit while healing, the banner during a night.
inline constexpr const char* kCreditLine = "Velmora - pulses for the night";
inline constexpr const char* kBannerLine = "Good night. Let the pulses carry you.";
inline constexpr const char* kWarningAdvice =
    "Maybe bad affect your Biorythm.\nPlease not use Velmora on this comp.";

// Makes the ramps and fills the whole bitmap with grey 32.
DrawingObjects CreateDrawingObjects(Canvas& canvas);

// One paint request. The warning box goes through `host` (none: no box).
void PaintWindow(SharedState& state, const DrawingObjects& objects, Canvas& canvas, Clock& clock,
                 WindowHost* host);

// "hh:mm", the local time of `seconds`.
std::string FormatClock(Clock& clock, int32_t seconds);

// The value texts of the status rows and the help lines, as PaintWindow draws
// them, formatted into a buffer without allocating.
using RowText = std::array<char, 320>;
void StateRowText(const SharedState& state, RowText& out);
// The finish of a night started at startTime: the plan's length later.
int32_t FinishTimeOf(const SharedState& state);
void TimerRowText(const SharedState& state, Clock& clock, RowText& out);
void SleepRowText(const SharedState& state, RowText& out);
void PowerRowText(const SharedState& state, RowText& out);
struct HelpLines {
  const char* first;
  RowText second;
  const char* third;  // empty when there is none
};
HelpLines HelpText(const SharedState& state);

// Window column of the cursor line and left column of the wiping strip at
// `minutes` played.
int CursorColumn(int64_t minutes, int32_t planMinutes);
int WipeStripColumn(int64_t minutes, int32_t planMinutes);

}  // namespace velmora
