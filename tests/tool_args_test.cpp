// Command-line handling of the companion tools.
#include "tools/tool_args.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace velmora::tools {
namespace {

TEST(ParseTimeTest, AcceptsIsoUtcAndUnixSeconds) {
  struct Case {
    const char* text;
    std::optional<int32_t> seconds;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"2005-09-29T00:00:00Z", 1127952000},
           {"2005-09-29T00:00Z", 1127952000},
           {"2000-01-06T18:00:00Z", 947181600},
           {"1970-01-01T00:00:00Z", 0},
           {"1969-12-31T23:59:59Z", -1},
           {"2000-02-29T12:00:00Z", 951825600},  // a leap day
           {"2038-01-19T03:14:07Z", 2147483647},
           {"1901-12-13T20:45:52Z", -2147483647 - 1},
           {"1127952000", 1127952000},
           {"-86400", -86400},
           {"0", 0},
           // Refused.
           {"", std::nullopt},
           {"-", std::nullopt},
           {"bogus", std::nullopt},
           {"2005-09-29", std::nullopt},
           {"2005-09-29T00:00:00", std::nullopt},  // no zone: not taken as local
           {"2005-09-29T00:00:00+02:00", std::nullopt},
           {"2005-13-01T00:00:00Z", std::nullopt},
           {"2001-02-29T00:00:00Z", std::nullopt},
           {"2005-09-31T00:00:00Z", std::nullopt},
           {"2005-09-29T24:00:00Z", std::nullopt},
           {"2038-01-19T03:14:08Z", std::nullopt},  // past the 32-bit clock
           {"2147483648", std::nullopt},
           {"12x", std::nullopt},
       }) {
    EXPECT_EQ(ParseTime(c.text), c.seconds) << c.text;
  }
}

TEST(FormatUtcTest, RoundTrips) {
  for (int32_t t : {0, -1, 947181600, 1127952000, 2147483647, -2147483647 - 1}) {
    const std::string text = FormatUtc(t);  // "YYYY-MM-DD HH:MM:SS UTC"
    const std::string iso = text.substr(0, 10) + 'T' + text.substr(11, 8) + 'Z';
    EXPECT_EQ(ParseTime(iso), t) << iso;
  }
  EXPECT_EQ(FormatUtc(1127952000), "2005-09-29 00:00:00 UTC");
}

TEST(SplitCommandLineTest, FlagsFirstThenWords) {
  struct Case {
    std::vector<const char*> argv;
    std::vector<std::string> flags, words;
  };
  for (const Case& c : std::vector<Case>{
           {{"t", "--json", "--", "-2", "+3", "--3"}, {"--json"}, {"-2", "+3", "--3"}},
           {{"t", "--at", "0", "m5"}, {"--at=0"}, {"m5"}},
           {{"t", "--at=7", "r3", "--csv"}, {"--at=7", "--csv"}, {"r3"}},
           {{"t", "--at"}, {"--at"}, {}},  // a missing value is left for the tool to report
           {{"t", "-2", "+3"}, {}, {"-2", "+3"}},
           {{"t", "--", "--"}, {}, {"--"}},
       }) {
    const SplitArgs split = SplitCommandLine(static_cast<int>(c.argv.size()),
                                             const_cast<char**>(c.argv.data()), {"--at"});
    EXPECT_EQ(split.flags, c.flags) << c.argv[1];
    EXPECT_EQ(split.words, c.words) << c.argv[1];
  }
}

}  // namespace
}  // namespace velmora::tools
