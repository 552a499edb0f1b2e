// The lights file: its rows against an independent record of the same
// light-mode night (the port's writes and the envelope, looked at every
// virtual millisecond), and the same on every run.
#include "tools/render/light_render.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "app/options.h"
#include "app/sim_sound_run.h"

namespace velmora::render {
namespace {

constexpr int64_t kWindowMs = 90000;  // the first minute and a half is compared
constexpr int32_t kAt = 1133222400;   // 2005-11-29 00:00 UTC

std::vector<LightRow> Rows(const std::vector<std::string>& words,
                           LightRenderResult* out = nullptr) {
  RenderRequest request;
  request.words = words;
  request.atSeconds = kAt;
  std::vector<LightRow> rows;
  const LightRenderResult result = RenderLights(request, [&rows](const LightRow& row) {
    rows.push_back(row);
    return true;
  });
  EXPECT_TRUE(result.ok) << result.error;
  if (out) *out = result;
  return rows;
}

// The same night run again with a sampler at every millisecond: what the
// lights show during the millisecond before each sample. Rows come out at
// the millisecond a change begins.
std::vector<LightRow> Sampled(const std::vector<std::string>& words) {
  SharedState state;
  SimClock clock(kAt);
  ReadOptions(state, words);
  state.healingMode = 0;  // the programme at once, as a render starts it
  const bool dimmed = state.lightLevel != 0;
  if (dimmed) state.envelopeNow = 63;  // the light thread's start
  SimSoundRun run(state, clock);
  std::vector<LightRow> rows;
  std::optional<LightRow> shown;
  uint8_t lastData = 0;
  size_t seen = 0;
  bool written = false;
  for (int64_t t = 1; t <= kWindowMs; ++t) {
    clock.At(t, [&, t] {
      const auto& records = run.port.Records();
      for (; seen < records.size(); ++seen) {
        if (records[seen].port != state.lptDataPort) continue;
        written = true;
        lastData = records[seen].value;
      }
      if (!written) return;
      const auto pattern = static_cast<uint8_t>(state.lptOnPattern.Load());
      const LightRow now = dimmed ? LightRow{t - 1, pattern, state.envelopeNow, true}
                                  : LightRow{t - 1, lastData != 0 ? lastData : pattern,
                                             static_cast<int16_t>(lastData != 0), false};
      if (!shown || shown->level != now.level || shown->pattern != now.pattern) rows.push_back(now);
      shown = now;
    });
  }
  clock.At(kWindowMs + 1, [&run] { run.generator.RequestStop(); });
  run.Run();
  return rows;
}

bool Same(const LightRow& a, const LightRow& b) {
  return a.timeMs == b.timeMs && a.pattern == b.pattern && a.level == b.level &&
         a.dimmed == b.dimmed;
}

TEST(LightRenderTest, RowsFollowThePortAndTheEnvelope) {
  struct Night {
    std::vector<std::string> words;
    size_t leastRows;
  };
  const Night nights[] = {
      {{"m1", "!3"}, 1000},
      {{"m1", "!-1"}, 1000},
      {{"m5", "!7", "3", "-3"}, 1000},
      {{"m1", "!-1", "5", "d"}, 1000},
      // The widest pulse range lights each pulse for no time: after the
      // start-up's lit register, the lights stay dark.
      {{"m1", "!-1", "e"}, 2},
  };
  for (const auto& [words, leastRows] : nights) {
    std::string name;
    for (const std::string& w : words) name += w + " ";
    std::vector<LightRow> rows = Rows(words);
    std::vector<LightRow> expected = Sampled(words);
    ASSERT_GE(expected.size(), leastRows) << name;
    std::erase_if(rows, [](const LightRow& r) { return r.timeMs >= kWindowMs - 1; });
    std::erase_if(expected, [](const LightRow& r) { return r.timeMs >= kWindowMs - 1; });
    ASSERT_EQ(rows.size(), expected.size()) << name;
    for (size_t i = 0; i < rows.size(); ++i) {
      ASSERT_TRUE(Same(rows[i], expected[i]))
          << name << " row " << i << ": " << LightRowText(rows[i]) << " against "
          << LightRowText(expected[i]);
    }
  }
}

TEST(LightRenderTest, TheWholeNightIsRepeatableAndEndsDark) {
  for (const char* light : {"!3", "!-1"}) {
    LightRenderResult first, second;
    const std::vector<LightRow> a = Rows({"m1", light}, &first);
    const std::vector<LightRow> b = Rows({"m1", light}, &second);
    ASSERT_EQ(a.size(), b.size()) << light;
    for (size_t i = 0; i < a.size(); ++i) ASSERT_TRUE(Same(a[i], b[i])) << light << " " << i;
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(first.rows, static_cast<int64_t>(a.size()));
    // Rows move on in time; a night is hours long; it ends with the lights out.
    for (size_t i = 1; i < a.size(); ++i) ASSERT_LT(a[i - 1].timeMs, a[i].timeMs) << light << i;
    EXPECT_GT(first.endMs, 3 * 3600 * 1000) << light;
    EXPECT_LE(a.back().timeMs, first.endMs) << light;
    EXPECT_EQ(a.back().level, 0) << light;
    EXPECT_EQ(a.front().timeMs, 5) << light;  // the registers' start-up writes
    for (const LightRow& r : a) {
      ASSERT_GE(r.level, 0);
      ASSERT_LE(r.level, first.dimmed ? 63 : 1);
    }
  }
}

TEST(LightRenderTest, SoundWordsAreRefused) {
  RenderRequest request;
  request.words = {"m1", "#"};
  int rows = 0;
  const LightRenderResult result = RenderLights(request, [&rows](const LightRow&) {
    ++rows;
    return true;
  });
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.notLightMode);
  EXPECT_EQ(rows, 0);
}

TEST(LightRenderTest, ARowThatCannotBeTakenStopsTheRender) {
  RenderRequest request;
  request.words = {"m1", "!3"};
  int rows = 0;
  const LightRenderResult result =
      RenderLights(request, [&rows](const LightRow&) { return ++rows < 10; });
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(rows, 10);
  EXPECT_FALSE(result.error.empty());
}

}  // namespace
}  // namespace velmora::render
