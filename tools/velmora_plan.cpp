// velmora-plan: prints the night plan that velmora would build for the given
// option words and the moon at a given time, as text, JSON or CSV.
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/options.h"
#include "display/painter.h"
#include "generator/stage_label.h"
#include "plan/moon.h"
#include "plan/night_plan.h"
#include "platform/clock.h"
#include "platform/freetype/freetype_text.h"
#include "platform/raster/png.h"
#include "platform/raster/raster_canvas.h"
#include "platform/sim/sim_clock.h"
#include "tools/tool_args.h"
#include "velmora_version.h"

namespace {

using namespace velmora;

constexpr const char* kTool = "velmora-plan";

constexpr const char* kUsage =
    "usage: velmora-plan [--at TIME] [--json | --csv] [--] WORD...\n"
    "       velmora-plan --all [--csv | --json]\n"
    "\n"
    "Prints the night plan velmora builds for the option words WORD... and the\n"
    "moon at TIME: moon age and factor, cycleUnit, stretch, cycleTicks,\n"
    "planMinutes, each cycle's start and floor, and per minute the pulse rate\n"
    "(planFreq), the step's pulse length (planPulseSeconds) and the stage.\n"
    "\n"
    "  --at TIME   the moment for the moon: ISO-8601 UTC (2005-09-29T00:00:00Z)\n"
    "              or Unix seconds; default now\n"
    "  --json      the same data as one JSON object\n"
    "  --csv       only the per-minute rows, as CSV\n"
    "  --all       planMinutes for every remCount 2..7, timePlus 0..6, moonFactor 1..8\n"
    "  --chart FILE.png\n"
    "              also draw the window's picture of the plan (status rows, chart)\n"
    "              into a PNG file\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "Option words go after \"--\" because \"-\" and \"+\" are selectors:\n"
    "  velmora-plan --at 2005-09-29T00:00:00Z -- -2 +3 m5\n";

enum class Format { kText, kJson, kCsv };

struct MinuteRow {
  bool received = false;  // a pulse fell in this minute in this build
  const char* stage = "";
};

struct CycleRow {
  int32_t startValue;
  int32_t floor;
};

// Collects what the build does beyond the curves: which minutes receive a
// pulse, the cycle starts, and the label the STATE row would show.
struct PlanReport {
  int32_t remCount = 0;
  int32_t cycleUnit = 0;
  std::vector<CycleRow> cycles;
  std::array<MinuteRow, kPlanCapacityMinutes> minutes{};
  const char* stage = "";

  void Pulse(const PlanPulse& p) {
    // In the last descent the label of the step before the last cycle start stays.
    if (p.cycleIndex <= remCount) stage = StageLabel(CurrentHz(p.stepValue, cycleUnit));
    minutes[p.minute] = {true, stage};
  }
  void CycleStart(int32_t stepValue, int32_t floor) { cycles.push_back({stepValue, floor}); }

  // A minute without a pulse lies in a gap of silence: the STATE row still
  // shows the label of the pulses before it.
  void CarryStagesIntoSilences() {
    for (size_t m = 1; m < minutes.size(); ++m) {
      if (!minutes[m].received) minutes[m].stage = minutes[m - 1].stage;
    }
  }
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kTool, message.c_str());
  std::fprintf(stderr, "Try '%s --help'.\n", kTool);
  return 2;
}

void PrintJsonString(const char* s) {
  std::putchar('"');
  for (; *s; ++s) {
    if (*s == '"' || *s == '\\') std::putchar('\\');
    std::putchar(*s);
  }
  std::putchar('"');
}

void PrintPlan(const SharedState& state, const PlanReport& report, int32_t atSeconds,
               bool moonOverridden, Format format) {
  const int32_t planMinutes = state.planMinutes;
  if (format == Format::kCsv) {
    std::printf("minute,planFreq,planPulseSeconds,stage\n");
    for (int32_t m = 0; m < planMinutes; ++m) {
      const MinuteRow& row = report.minutes[m];
      if (row.received) {
        std::printf("%d,%d,%d,\"%s\"\n", m, state.planFreq[m].Load(),
                    state.planPulseSeconds[m].Load(), row.stage);
      } else {
        std::printf("%d,,,\"%s\"\n", m, row.stage);
      }
    }
    return;
  }
  if (format == Format::kJson) {
    std::printf("{\n  \"at\": %d,\n  \"moonAgeDays\": %.6f,\n  \"moonFactor\": %d,\n", atSeconds,
                state.moonAgeDays.Load(), state.moonFactor.Load());
    std::printf("  \"moonFactorFromOption\": %s,\n", moonOverridden ? "true" : "false");
    std::printf("  \"remCount\": %d,\n  \"timePlus\": %d,\n  \"cycleUnit\": %d,\n",
                state.remCount.Load(), state.timePlus.Load(), state.cycleUnit.Load());
    std::printf("  \"stretch\": %.9g,\n  \"cycleTicks\": %d,\n  \"planMinutes\": %d,\n",
                static_cast<double>(state.stretch.Load()), state.cycleTicks.Load(), planMinutes);
    std::printf("  \"samplePos\": %lld,\n  \"cycles\": [",
                static_cast<long long>(state.samplePos.Load()));
    for (size_t i = 0; i < report.cycles.size(); ++i) {
      std::printf("%s\n    {\"startValue\": %d, \"floor\": %d}", i ? "," : "",
                  report.cycles[i].startValue, report.cycles[i].floor);
    }
    std::printf("\n  ],\n  \"minutes\": [");
    for (int32_t m = 0; m < planMinutes; ++m) {
      const MinuteRow& row = report.minutes[m];
      std::printf("%s\n    {\"minute\": %d, ", m ? "," : "", m);
      if (row.received) {
        std::printf("\"planFreq\": %d, \"planPulseSeconds\": %d, ", state.planFreq[m].Load(),
                    state.planPulseSeconds[m].Load());
      } else {
        std::printf("\"planFreq\": null, \"planPulseSeconds\": null, ");
      }
      std::printf("\"stage\": ");
      PrintJsonString(row.stage);
      std::printf("}");
    }
    std::printf("\n  ]\n}\n");
    return;
  }
  std::printf("Velmora night plan\n");
  std::printf("  moon          age %.4f days at %s, factor %d%s\n", state.moonAgeDays.Load(),
              tools::FormatUtc(atSeconds).c_str(), state.moonFactor.Load(),
              moonOverridden ? " (set by option word)" : "");
  std::printf("  remCount      %d\n  timePlus      %d\n", state.remCount.Load(),
              state.timePlus.Load());
  std::printf("  cycleUnit     %d\n  stretch       %.9g\n  cycleTicks    %d\n",
              state.cycleUnit.Load(), static_cast<double>(state.stretch.Load()),
              state.cycleTicks.Load());
  std::printf("  planMinutes   %d (%dh%02d)\n  samplePos     %lld\n\n", planMinutes,
              planMinutes / 60, planMinutes % 60, static_cast<long long>(state.samplePos.Load()));
  std::printf("cycle  startValue  rate Hz  floor  floor Hz\n");
  for (size_t i = 0; i < report.cycles.size(); ++i) {
    const CycleRow& c = report.cycles[i];
    std::printf("%5zu  %10d  %7.2f  %5d  %8.2f%s\n", i + 1, c.startValue,
                static_cast<double>(CurrentHz(c.startValue, report.cycleUnit)), c.floor,
                static_cast<double>(CurrentHz(c.floor, report.cycleUnit)),
                i + 1 == report.cycles.size() ? "  (last descent: ends below 13 Hz)" : "");
  }
  std::printf("\nminute  planFreq  planPulseSeconds  stage\n");
  for (int32_t m = 0; m < planMinutes; ++m) {
    const MinuteRow& row = report.minutes[m];
    if (row.received) {
      std::printf("%6d  %8d  %16d  %s\n", m, state.planFreq[m].Load(),
                  state.planPulseSeconds[m].Load(), row.stage);
    } else {
      std::printf("%6d  %8s  %16s  %s\n", m, "-", "-", row.stage);
    }
  }
}

// The window's picture of the plan as it stands at start-up: healing, the
// chart, the status rows and the key help.
bool DrawChart(SharedState& state, const std::string& path, std::string& error) {
  state.stateText.Set("HealingGamma");
  state.sleepRunning = 0;  // the STATE row shows the label alone
  FreeTypeText text;
  RasterCanvas canvas(chartLayout.windowWidth, chartLayout.windowHeight,
                      text.Ready() ? &text : nullptr);
  const DrawingObjects drawing = CreateDrawingObjects(canvas);
  PaintWindow(state, drawing, canvas, SystemClock(), nullptr);
  return WritePng(canvas.Bitmap(), path, error);
}

void PrintAll(Format format) {
  if (format == Format::kCsv) std::printf("remCount,timePlus,moonFactor,cycleUnit,planMinutes\n");
  if (format == Format::kJson) std::printf("[");
  if (format == Format::kText)
    std::printf("remCount  timePlus  moonFactor  cycleUnit  planMinutes\n");
  bool first = true;
  for (int32_t r = 2; r <= 7; ++r) {
    for (int32_t t = 0; t <= 6; ++t) {
      for (int32_t m = 1; m <= 8; ++m) {
        SharedState state;
        state.remCount = r;
        state.timePlus = t;
        state.moonFactor = m;
        BuildNightPlan(state);
        const int32_t cu = state.cycleUnit;
        const int32_t minutes = state.planMinutes;
        switch (format) {
          case Format::kCsv:
            std::printf("%d,%d,%d,%d,%d\n", r, t, m, cu, minutes);
            break;
          case Format::kJson:
            std::printf(
                "%s\n  {\"remCount\": %d, \"timePlus\": %d, \"moonFactor\": %d, "
                "\"cycleUnit\": %d, \"planMinutes\": %d}",
                first ? "" : ",", r, t, m, cu, minutes);
            break;
          case Format::kText:
            std::printf("%8d  %8d  %10d  %9d  %11d\n", r, t, m, cu, minutes);
            break;
        }
        first = false;
      }
    }
  }
  if (format == Format::kJson) std::printf("\n]\n");
}

}  // namespace

int main(int argc, char** argv) {
  const tools::SplitArgs args = tools::SplitCommandLine(argc, argv, {"--at", "--chart"});
  Format format = Format::kText;
  bool all = false;
  std::optional<int32_t> at;
  std::optional<std::string> chart;
  for (const std::string& flag : args.flags) {
    if (flag == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (flag == "--version") {
      std::printf("velmora-plan %s\n", VELMORA_VERSION);
      return 0;
    }
    if (flag == "--json" || flag == "--csv") {
      const Format wanted = flag == "--json" ? Format::kJson : Format::kCsv;
      if (format != Format::kText && format != wanted)
        return Fail("--json and --csv exclude each other");
      format = wanted;
    } else if (flag == "--all") {
      all = true;
    } else if (flag.rfind("--at=", 0) == 0) {
      at = tools::ParseTime(flag.substr(5));
      if (!at) {
        return Fail("bad TIME '" + flag.substr(5) +
                    "': give ISO-8601 UTC like 2005-09-29T00:00:00Z or Unix seconds");
      }
    } else if (flag == "--at") {
      return Fail("--at needs a TIME");
    } else if (flag.rfind("--chart=", 0) == 0 && flag.size() > 8) {
      chart = flag.substr(8);
    } else if (flag.rfind("--chart", 0) == 0) {
      return Fail("--chart needs a FILE.png");
    } else {
      return Fail("unknown flag '" + flag + "'");
    }
  }
  if (all) {
    if (!args.words.empty() || at || chart) {
      return Fail("--all takes no option words, no --at and no --chart");
    }
    PrintAll(format);
    return 0;
  }

  SharedState state;
  const int32_t atSeconds = at ? *at : SystemClock().NowSeconds();
  SimClock clockAt(atSeconds);
  ComputeMoonFactor(state, clockAt);
  bool moonOverridden = false;
  for (const std::string& word : args.words) moonOverridden = moonOverridden || word[0] == 'm';
  tools::ReportClamped(kTool, ReadOptions(state, args.words));

  PlanReport report;
  report.remCount = state.remCount;
  report.cycleUnit = CycleUnitFor(state.timePlus, state.moonFactor);
  BuildNightPlan(state, report);
  report.CarryStagesIntoSilences();
  if (chart) {
    std::string error;
    if (!DrawChart(state, *chart, error)) {
      std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
      return 1;
    }
  }
  PrintPlan(state, report, atSeconds, moonOverridden, format);
  return 0;
}
