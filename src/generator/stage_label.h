// The sleep-stage labels of the STATE row, chosen from the rate figure.
#pragma once

namespace velmora {

inline const char* StageLabel(float currentHz) {
  if (currentHz >= 24) return "NREM4 Delta";
  if (currentHz >= 13) return "  REM Beta";
  if (currentHz >= 8) return "NREM1 Alpha";
  if (currentHz >= 4) return "NREM2 Theta";
  return "NREM3 Delta";
}

}  // namespace velmora
