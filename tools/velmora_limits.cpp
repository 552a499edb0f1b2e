// velmora-limits: the developers' sweep behind the bounds on the plan settings.
//
//   velmora-limits            sweep each setting alone with the others in their
//                             ranges and print the safe interval around the range
//   velmora-limits --verify   check every point of the bounds box
//
// Exit status: 0 when everything checked is safe, 1 otherwise.
#include <cstdio>
#include <cstring>
#include <functional>

#include "app/plan_bounds.h"

namespace {

using velmora::CheckPlanSettings;
using velmora::PlanSettings;

// Whether `value` of one setting is safe with the other two over their ranges;
// prints the first failure found.
bool SafeAcrossRanges(const std::function<PlanSettings(int32_t, int32_t)>& make, int32_t outerMin,
                      int32_t outerMax, int32_t innerMin, int32_t innerMax, bool quiet) {
  for (int32_t a = outerMin; a <= outerMax; ++a) {
    for (int32_t b = innerMin; b <= innerMax; ++b) {
      const PlanSettings s = make(a, b);
      const auto check = CheckPlanSettings(s);
      if (!check.safe) {
        if (!quiet) {
          std::printf("    fails at remCount %d timePlus %d moonFactor %d: %s\n", s.remCount,
                      s.timePlus, s.moonFactor, check.reason);
        }
        return false;
      }
    }
  }
  return true;
}

// Walks outward from the in-range interval [lo, hi] of one setting to the
// first unsafe value on each side, up to [searchMin, searchMax].
void Sweep(const char* name, int32_t lo, int32_t hi, int32_t searchMin, int32_t searchMax,
           const std::function<bool(int32_t, bool)>& safe) {
  int32_t low = lo;
  while (low > searchMin && safe(low - 1, true)) --low;
  int32_t high = hi;
  while (high < searchMax && safe(high + 1, true)) ++high;
  std::printf("%s: safe from %d to %d (searched %d..%d)\n", name, low, high, searchMin, searchMax);
  if (low > searchMin) safe(low - 1, false);
  if (high < searchMax) safe(high + 1, false);
}

int VerifyBox() {
  const auto& b = velmora::kPlanBounds;
  long checked = 0, failed = 0;
  for (int32_t r = b.remCount.min; r <= b.remCount.max; ++r) {
    for (int32_t t = b.timePlus.min; t <= b.timePlus.max; ++t) {
      for (int32_t m = b.moonFactor.min; m <= b.moonFactor.max; ++m) {
        const auto check = CheckPlanSettings({r, t, m});
        ++checked;
        if (!check.safe) {
          ++failed;
          std::printf("unsafe: remCount %d timePlus %d moonFactor %d: %s\n", r, t, m, check.reason);
        }
      }
    }
    std::fprintf(stderr, "remCount %d done (%ld checked)\n", r, checked);
  }
  std::printf("box remCount %d..%d, timePlus %d..%d, moonFactor %d..%d: %ld settings, %ld unsafe\n",
              b.remCount.min, b.remCount.max, b.timePlus.min, b.timePlus.max, b.moonFactor.min,
              b.moonFactor.max, checked, failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--verify") == 0) return VerifyBox();
  if (argc > 1) {
    std::fprintf(stderr, "usage: velmora-limits [--verify]\n");
    return 2;
  }
  Sweep("moonFactor", 1, 8, -400, 600, [](int32_t m, bool quiet) {
    return SafeAcrossRanges(
        [m](int32_t r, int32_t t) {
          return PlanSettings{r, t, m};
        },
        2, 7, 0, 6, quiet);
  });
  Sweep("timePlus", 0, 6, -400, 400, [](int32_t t, bool quiet) {
    return SafeAcrossRanges(
        [t](int32_t r, int32_t m) {
          return PlanSettings{r, t, m};
        },
        2, 7, 1, 8, quiet);
  });
  Sweep("remCount", 2, 7, -5, 100, [](int32_t r, bool quiet) {
    return SafeAcrossRanges(
        [r](int32_t t, int32_t m) {
          return PlanSettings{r, t, m};
        },
        0, 6, 1, 8, quiet);
  });
  return 0;
}
