// Command-line handling shared by the companion tools: their own --long flags
// come first, the option words of velmora after "--" (words that do not start
// with "--" are taken as option words too).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/plan_bounds.h"

namespace velmora::tools {

// A calendar time given as ISO-8601 UTC (2005-09-29T00:00:00Z, seconds
// optional) or as Unix seconds; nothing if the text is neither or lies
// outside the signed 32-bit seconds of the clock.
std::optional<int32_t> ParseTime(std::string_view text);

// "2005-09-29 00:00:00 UTC".
std::string FormatUtc(int32_t seconds);

struct SplitArgs {
  std::vector<std::string> flags;  // each "--name" or "--name=value"
  std::vector<std::string> words;  // option words, in order
};

// Splits argv[1..] into the tool's flags and the option words. A flag that
// takes a value (named in `valueFlags`) consumes the next argument unless it
// was written as --name=value.
SplitArgs SplitCommandLine(int argc, char** argv, const std::vector<std::string_view>& valueFlags);

// Prints to stderr a line per setting the bounds moved.
void ReportClamped(const char* tool, const BoundReport& report);

}  // namespace velmora::tools
