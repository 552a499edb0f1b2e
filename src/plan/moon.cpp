#include "plan/moon.h"

#include <cmath>

namespace velmora {
namespace {

// Mean-lunation series from the new moon of 2000 January 6, cut down to the
// quadratic mean term and the two largest periodic terms.
constexpr long double kReferenceNewMoon = 2451550.09765L;
constexpr long double kMeanLunation = 29.530589L;
constexpr long double kPerLunation = 0.033863191824585687433L;   // 1 / 29.530589
constexpr long double kPerCentury = 0.00080850547762461096621L;  // 1 / 1236.85
constexpr long double kDegreesToRadians = 0.017453292519943L;
constexpr long double kPerDay = 1.0L / 86400;
constexpr long double kUnixEpochJulianDay = 2440587.5L;

}  // namespace

double JulianDay(int32_t seconds) {
  return static_cast<double>(seconds * kPerDay + kUnixEpochJulianDay);
}

double NewMoonJulianDay(double jd) {
  // floor, not truncation: before 2000 the index is negative and the chosen
  // new moon must still lie before jd.
  const double k = std::floor(static_cast<double>((jd - kReferenceNewMoon) * kPerLunation));
  const double t = static_cast<double>(k * kPerCentury);
  const double moonAnomaly = static_cast<double>((385.8169L * k + 201.5643L) * kDegreesToRadians);
  const double partial =
      static_cast<double>((kReferenceNewMoon + kMeanLunation * k + 0.0001337L * t * t) -
                          0.4072L * std::sin(moonAnomaly));
  const double sunAnomaly = static_cast<double>((29.1054L * k + 2.5534L) * kDegreesToRadians);
  return static_cast<double>(partial + 0.17241L * std::sin(sunAnomaly));
}

MoonReading ReadMoon(int32_t seconds) {
  const double jd = JulianDay(seconds);
  double newMoon = NewMoonJulianDay(jd);
  if (newMoon > jd) newMoon = NewMoonJulianDay(jd - 1.0);
  const double age = jd - newMoon;
  // Eighths of a quarter lunation; only the low three bits count, so an age a
  // little over one lunation still gives 1..8.
  const auto raw = static_cast<int32_t>((32 * static_cast<long double>(age)) * kPerLunation);
  return {age, (raw & 7) + 1};
}

void ComputeMoonFactor(SharedState& state, Clock& clock) {
  const int32_t now = clock.NowSeconds();
  const MoonReading moon = ReadMoon(now);
  state.startTime = now;
  state.moonAgeDays = moon.ageDays;
  state.moonFactor = moon.moonFactor;
}

}  // namespace velmora
