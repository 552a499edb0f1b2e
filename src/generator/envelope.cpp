#include "generator/envelope.h"

#include <cmath>
#include <numbers>

#include "plan/step_rules.h"

namespace velmora {

void BuildEnvelope(SharedState& state, int32_t level) {
  if (level > kEnvelopeMaxLevel) level = kEnvelopeMaxLevel;
  for (int32_t i = 0; i < 256; ++i) {
    // Shifted by one: entry 0 is sin(pi/256) * level, so entry i equals entry 254 - i.
    const auto angle =
        static_cast<double>(((i + 1) * static_cast<long double>(std::numbers::pi)) * 0.00390625L);
    const int32_t v = TruncToInt32(std::sin(angle) * static_cast<long double>(level));
    const int32_t entry = v >= level ? level - 1 : (v < 0 ? 0 : v);
    state.envelope[i] = static_cast<uint8_t>(entry);
  }
}

}  // namespace velmora
