// Units of time, sound and layout, each with how it is derived. Everything
// that counts samples, milliseconds or pixels takes its constants from here.
#pragma once

#include <cstdint>

namespace velmora {

// Samples per second = 1000 << kRateShift, so a sample count >> kRateShift is
// milliseconds and a millisecond count << kRateShift is samples.
inline constexpr int32_t kRateShift = 5;
inline constexpr int32_t kSampleRate = 1000 << kRateShift;  // 32000, 8-bit unsigned mono
inline constexpr uint8_t kSilence = 128;                    // zero level of a sample
// Eight silent samples, as the ring stores them in one word.
inline constexpr uint64_t kSilentWord = uint64_t{kSilence} * 0x0101010101010101ull;

// The audio ring: sixteen one-second blocks played in turn by the wave device.
inline constexpr int32_t kRingBlocks = 16;
inline constexpr int32_t kBlockBytes = kSampleRate;               // one second
inline constexpr int32_t kRingBytes = kRingBlocks * kBlockBytes;  // 512000
// Block counts wrap to a block index with this mask.
inline constexpr int32_t kRingBlockMask = kRingBlocks - 1;
static_assert((kRingBlocks & kRingBlockMask) == 0, "the ring's block count is a power of two");

// The writer keeps at most this far ahead of the played clock.
inline constexpr int32_t kLeadMs = 3000;

// The per-minute curves of the night plan cover one day.
inline constexpr int32_t kPlanCapacityMinutes = 1440;

// Scratch table of the tone writer: 1 << kToneTableShift entries.
inline constexpr int32_t kToneTableShift = 7;

// Window and chart geometry in pixels.
struct ChartLayout {
  int32_t windowWidth = 288;
  int32_t windowHeight = 272;
  int32_t chartLeft = 8;
  int32_t chartTop = 104;
  int32_t chartWidth = 288 - 8 - 16;  // windowWidth - chartLeft - 16
  int32_t chartHeight = 80;
  int32_t rowWidth = 264;
  int32_t rowLeft = 8;
  int32_t rowTop = 16;
};
inline constexpr ChartLayout chartLayout{};
static_assert(chartLayout.chartWidth == chartLayout.windowWidth - chartLayout.chartLeft - 16);

}  // namespace velmora
