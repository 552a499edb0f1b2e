// Fuzz target: the companion tools' command-line handling: the split into
// flags and option words, and TIME. Arguments are separated by newlines.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "lines.h"
#include "tools/tool_args.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = SplitLines(data, size, "tool", size + 2);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  const auto split = velmora::tools::SplitCommandLine(static_cast<int>(argv.size()), argv.data(),
                                                      {"--at", "--out", "--format"});
  for (const std::string& flag : split.flags) {
    const size_t eq = flag.find('=');
    if (eq != std::string::npos) {
      if (auto t = velmora::tools::ParseTime(flag.substr(eq + 1))) {
        (void)velmora::tools::FormatUtc(*t);
      }
    }
  }
  for (const std::string& a : args) (void)velmora::tools::ParseTime(a);
  velmora::SharedState state;
  velmora::ReadOptions(state, split.words);
  return 0;
}
