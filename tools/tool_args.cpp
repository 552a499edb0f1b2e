#include "tools/tool_args.h"

#include <cstdio>
#include <limits>

namespace velmora::tools {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool IsLeap(int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Reads exactly `width` digits at `pos`.
std::optional<int64_t> Digits(std::string_view text, size_t& pos, size_t width) {
  if (pos + width > text.size()) return std::nullopt;
  int64_t v = 0;
  for (size_t i = 0; i < width; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  pos += width;
  return v;
}

bool Expect(std::string_view text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

std::optional<int32_t> InClockRange(int64_t seconds) {
  if (seconds < std::numeric_limits<int32_t>::min() ||
      seconds > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(seconds);
}

}  // namespace

std::optional<int32_t> ParseTime(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const bool unixSeconds =
      text.find_first_not_of("0123456789", text[0] == '-' ? 1 : 0) == std::string_view::npos &&
      text.size() > (text[0] == '-' ? 1u : 0u);
  if (unixSeconds) {
    if (text.size() > 12) return std::nullopt;
    int64_t v = 0;
    for (char c : text.substr(text[0] == '-' ? 1 : 0)) v = v * 10 + (c - '0');
    return InClockRange(text[0] == '-' ? -v : v);
  }
  size_t pos = 0;
  const auto year = Digits(text, pos, 4);
  if (!year || !Expect(text, pos, '-')) return std::nullopt;
  const auto month = Digits(text, pos, 2);
  if (!month || !Expect(text, pos, '-')) return std::nullopt;
  const auto day = Digits(text, pos, 2);
  if (!day || !(Expect(text, pos, 'T') || Expect(text, pos, 't'))) return std::nullopt;
  const auto hour = Digits(text, pos, 2);
  if (!hour || !Expect(text, pos, ':')) return std::nullopt;
  const auto minute = Digits(text, pos, 2);
  if (!minute) return std::nullopt;
  int64_t second = 0;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    const auto s = Digits(text, pos, 2);
    if (!s) return std::nullopt;
    second = *s;
  }
  if (!(Expect(text, pos, 'Z') || Expect(text, pos, 'z')) || pos != text.size()) {
    return std::nullopt;
  }
  static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (*month < 1 || *month > 12 || *hour > 23 || *minute > 59 || second > 59) return std::nullopt;
  const int64_t monthDays = kMonthDays[*month - 1] + (*month == 2 && IsLeap(*year) ? 1 : 0);
  if (*day < 1 || *day > monthDays) return std::nullopt;
  return InClockRange(DaysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 +
                      second);
}

std::string FormatUtc(int32_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from days since 1970-01-01.
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp + (mp < 10 ? 3 : -9);
  const int64_t y = yoe + era * 400 + (m <= 2);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC",
                static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return text;
}

SplitArgs SplitCommandLine(int argc, char** argv, const std::vector<std::string_view>& valueFlags) {
  SplitArgs out;
  bool wordsOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (wordsOnly || arg.substr(0, 2) != "--") {
      out.words.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      wordsOnly = true;
      continue;
    }
    std::string flag(arg);
    bool takesValue = false;
    for (std::string_view name : valueFlags) takesValue = takesValue || arg == name;
    if (takesValue && i + 1 < argc) flag.append("=").append(argv[++i]);
    out.flags.push_back(std::move(flag));
  }
  return out;
}

void ReportClamped(const char* tool, const BoundReport& report) {
  for (int i = 0; i < report.count; ++i) {
    const ClampedSetting& c = report.clamped[i];
    std::fprintf(stderr, "%s: %s %d is outside %d..%d; using %d\n", tool, c.name, c.given,
                 c.range.min, c.range.max, c.used);
  }
}

}  // namespace velmora::tools
