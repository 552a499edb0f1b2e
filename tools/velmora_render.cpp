// velmora-render: runs the real generator on the simulated platform and writes
// what the sound device would play to an audio file, streaming.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "tools/render/interrupts.h"
#include "tools/render/light_render.h"
#include "tools/render/night_render.h"
#include "tools/render/output_file.h"
#include "tools/render/sinks.h"
#include "tools/render/text_sink.h"
#include "tools/tool_args.h"
#include "velmora_version.h"

namespace {

using namespace velmora;
using namespace velmora::render;

constexpr const char* kTool = "velmora-render";
constexpr int32_t kMaxHealingSeconds = 12 * 3600;

constexpr const char* kUsage =
    "usage: velmora-render [--out FILE] [--format wav|flac|ogg|raw] [--healing SECONDS]\n"
    "                      [--healing-only SECONDS] [--at TIME] [--quiet] [--] WORD...\n"
    "       velmora-render --lights FILE.csv [--healing SECONDS] [--at TIME] -- !N|!-1 WORD...\n"
    "\n"
    "Runs velmora's generator on a simulated clock and sound device and writes\n"
    "what the device would play: 8-bit unsigned mono at 32000 samples per second.\n"
    "By default the night programme alone, started at once (as the word \".\").\n"
    "\n"
    "  --out FILE             the output file, '-' for standard output\n"
    "                         (default velmora-YYYY-MM-DD.FORMAT for the date of TIME)\n"
    "  --format FMT           wav (default), flac, ogg or raw (the bare samples);\n"
    "                         taken from the file's extension when not given\n"
    "  --healing SECONDS      play the healing pattern that long, then press Enter\n"
    "  --healing-only SECONDS only the healing pattern, that long\n"
    "  --at TIME              the clock at start: ISO-8601 UTC (2005-09-29T00:00:00Z)\n"
    "                         or Unix seconds; default now\n"
    "  --lights FILE          instead of sound, the lights of a light-mode night:\n"
    "                         one row per change, time in ms, the pattern byte, and\n"
    "                         the level 0..63 (\"!N\") or on/off (\"!-1\"); '-' for\n"
    "                         standard output\n"
    "  --quiet                no progress and no summary\n"
    "  --help, --version\n"
    "\n"
    "Option words go after \"--\": velmora-render --out night.wav -- -2 +3 #\n"
    "FILE may be a device, a FIFO or a socket: it is written in place. A file is\n"
    "written under a temporary name beside it and renamed when complete; an\n"
    "interrupted render (SIGINT, SIGTERM, SIGHUP) leaves nothing behind.\n"
    "Exit status: 0 done, 1 the output could not be written, 2 bad arguments,\n"
    "128 + N killed by signal N.\n";

int Usage(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kTool, message.c_str(), kTool);
  return 2;
}

std::optional<int32_t> ParseSeconds(const std::string& text) {
  if (text.empty() || text.size() > 6 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const int32_t v = std::stoi(text);
  if (v > kMaxHealingSeconds) return std::nullopt;
  return v;
}

std::string Extension(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot + 1);
}

// A bar on stderr, redrawn when the whole percent changes.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  void Show(const RenderProgress& p) {
    if (!enabled_ || p.expectedSamples <= 0) return;
    int percent = static_cast<int>(100 * p.samplesWritten / p.expectedSamples);
    if (percent > 100) percent = 100;
    if (percent == shown_) return;
    shown_ = percent;
    interrupts::SetBarShown(true);
    char bar[41];
    for (int i = 0; i < 40; ++i) bar[i] = i < percent * 40 / 100 ? '#' : '.';
    bar[40] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%  %.1f of %.1f min", bar, percent,
                 static_cast<double>(p.samplesWritten) / (60.0 * kSampleRate),
                 static_cast<double>(p.expectedSamples) / (60.0 * kSampleRate));
  }
  void Done() {
    if (enabled_ && shown_ >= 0) std::fprintf(stderr, "\r%*s\r", 70, "");
    interrupts::SetBarShown(false);
  }

 private:
  bool enabled_;
  int shown_ = -1;
};

// Opens the output of a render, and sets up how it ends. The signal policy
// is this file's alone: SIGINT, SIGTERM and SIGHUP remove the temporary file
// (interrupts.h), so they are blocked while it is made and until it is named
// to the handler, and again while it is renamed or removed; the threads the
// sink starts begin with them blocked, so that the handler runs on this
// thread only. Opening in place is not blocked: a FIFO's open waits for its
// reader, and an interrupt must end that wait. A reader that goes away shows
// as a failed write (EPIPE), so that the progress line can be cleared before
// the program ends. False, said on stderr, when the output cannot be opened.
bool OpenOutput(const std::string& path, bool quiet,
                const std::function<bool(OutputFile, std::string&)>& open) {
  std::signal(SIGPIPE, SIG_IGN);
  interrupts::Install(quiet);
  std::string error;
  OutputFile file;
  bool ok = file.Choose(path, error);
  if (ok && file.Replaces()) {
    interrupts::SignalsBlocked blocked;
    ok = file.Open(error);
    if (ok) interrupts::SetTemporary(file.TemporaryPath());
  } else if (ok) {
    ok = file.Open(error);
    if (ok) interrupts::SetStreaming();
  }
  if (ok) {
    interrupts::SignalsBlocked blocked;
    ok = open(std::move(file), error);
    if (!ok) interrupts::SetDone();
  }
  if (!ok) std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
  return ok;
}

// Completes the output, or removes what was begun; whether it is complete.
bool FinishOutput(OutputSink& sink, bool rendered) {
  interrupts::SignalsBlocked blocked;
  const bool finished = rendered && sink.Finish();
  if (!finished) sink.Abandon();
  interrupts::SetDone();
  return finished;
}

// The reader has all it wanted (`| head`): end as a pipe's writer does.
void EndIfReaderGone(const OutputSink& sink) {
  if (!sink.ReaderGone()) return;
  std::signal(SIGPIPE, SIG_DFL);
  std::raise(SIGPIPE);
}

void SayNotes(const std::vector<std::string>& notes) {
  for (const std::string& note : notes) std::fprintf(stderr, "%s: %s\n", kTool, note.c_str());
}

// The lights file: the rows as text, through the same safe output as the
// sound (a file is written under a temporary name and renamed when complete).
int WriteLights(const std::string& path, const RenderRequest& request, bool quiet) {
  if (path == "-" && isatty(STDOUT_FILENO))
    return Usage("standard output is a terminal; give --lights FILE");
  std::unique_ptr<TextSink> sink;
  if (!OpenOutput(path, quiet, [&sink](OutputFile file, std::string&) {
        sink = OpenTextSink(std::move(file));
        return true;
      })) {
    return 1;
  }
  bool headed = false;
  const LightRenderResult result = RenderLights(request, [&](const LightRow& row) {
    if (!headed && !sink->WriteLine(LightHeaderText(row.dimmed))) return false;
    headed = true;
    return sink->WriteLine(LightRowText(row));
  });
  const bool finished = FinishOutput(*sink, result.ok);
  EndIfReaderGone(*sink);
  SayNotes(result.notes);
  if (!result.ok && sink->Error().empty()) {
    std::fprintf(stderr, "%s: %s\n", kTool, result.error.c_str());
    return result.notLightMode ? 2 : 1;
  }
  if (!finished) {
    std::fprintf(stderr, "%s: %s\n", kTool, sink->Error().c_str());
    return 1;
  }
  if (!quiet) {
    std::fprintf(stderr, "%s: wrote %s (lights): %lld rows, %.1f min\n", kTool,
                 path == "-" ? "standard output" : path.c_str(),
                 static_cast<long long>(result.rows), static_cast<double>(result.endMs) / 60000.0);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const tools::SplitArgs args = tools::SplitCommandLine(
      argc, argv, {"--out", "--format", "--healing", "--healing-only", "--at", "--lights"});
  std::optional<std::string> out;
  std::optional<std::string> lights;
  std::optional<AudioFormat> format;
  std::optional<int32_t> at;
  RenderRequest request;
  bool quiet = false;
  bool healingGiven = false;
  for (const std::string& flag : args.flags) {
    const size_t eq = flag.find('=');
    const std::string name = flag.substr(0, eq);
    const std::optional<std::string> value =
        eq == std::string::npos ? std::nullopt : std::optional<std::string>(flag.substr(eq + 1));
    if (name == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (name == "--version") {
      std::printf("velmora-render %s\n", VELMORA_VERSION);
      return 0;
    }
    if (name == "--quiet") {
      quiet = true;
      continue;
    }
    if (name != "--out" && name != "--format" && name != "--healing" && name != "--healing-only" &&
        name != "--at" && name != "--lights") {
      return Usage("unknown flag '" + flag + "'");
    }
    if (!value) return Usage(name + " needs a value");
    if (name == "--out" || name == "--lights") {
      if (value->empty()) return Usage(name + " needs a file name");
      (name == "--out" ? out : lights) = *value;
    } else if (name == "--format") {
      AudioFormat f;
      if (!FormatFromName(*value, f))
        return Usage("unknown format '" + *value + "' (wav, flac, ogg, raw)");
      format = f;
    } else if (name == "--at") {
      at = tools::ParseTime(*value);
      if (!at) {
        return Usage("bad TIME '" + *value +
                     "': give ISO-8601 UTC like 2005-09-29T00:00:00Z or Unix seconds");
      }
    } else {
      const std::optional<int32_t> seconds = ParseSeconds(*value);
      if (!seconds) {
        return Usage("bad SECONDS '" + *value + "' for " + name + ": a whole number up to " +
                     std::to_string(kMaxHealingSeconds));
      }
      if (healingGiven) return Usage("--healing and --healing-only exclude each other");
      healingGiven = true;
      request.healingSeconds = *seconds;
      request.mode =
          name == "--healing" ? RenderMode::kHealingThenProgramme : RenderMode::kHealingOnly;
    }
  }

  request.words = args.words;
  request.atSeconds = at ? *at : static_cast<int32_t>(std::time(nullptr));
  if (lights) {
    if (out || format)
      return Usage("--lights writes the lights alone; leave out --out and --format");
    return WriteLights(*lights, request, quiet);
  }
  if (!format) {
    AudioFormat fromExtension = AudioFormat::kWav;
    format =
        out && FormatFromName(Extension(*out), fromExtension) ? fromExtension : AudioFormat::kWav;
  }
  if (!out)
    out =
        "velmora-" + tools::FormatUtc(request.atSeconds).substr(0, 10) + "." + FormatName(*format);
  if (*out == "-" && isatty(STDOUT_FILENO)) {
    return Usage("standard output is a terminal; give --out FILE or redirect it");
  }

  std::unique_ptr<OutputSink> sink;
  if (!OpenOutput(*out, quiet, [&](OutputFile file, std::string& error) {
        sink = OpenSink(std::move(file), *format, error);
        return sink != nullptr;
      })) {
    return 1;
  }
  ProgressBar bar(!quiet && isatty(STDERR_FILENO));
  const auto started = std::chrono::steady_clock::now();
  const RenderResult result =
      RenderNight(request, *sink, [&bar](const RenderProgress& p) { bar.Show(p); });
  const bool finished = FinishOutput(*sink, result.ok);
  bar.Done();
  EndIfReaderGone(*sink);
  SayNotes(result.notes);
  if (!finished) {
    const std::string why = sink->Error().empty() ? result.error : sink->Error();
    std::fprintf(stderr, "%s: %s\n", kTool, why.c_str());
    return 1;
  }
  if (!quiet) {
    const double seconds = static_cast<double>(result.samples) / kSampleRate;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr,
                 "%s: wrote %s (%s): %.1f min, %d sleep cycles, %lld steps, %lld samples, "
                 "%lld bytes in %.2f s\n",
                 kTool, *out == "-" ? "standard output" : out->c_str(), FormatName(*format),
                 seconds / 60, result.cycles > 0 ? result.cycles - 1 : 0,
                 static_cast<long long>(result.steps), static_cast<long long>(result.samples),
                 static_cast<long long>(sink->BytesWritten()), wall);
  }
  return 0;
}
