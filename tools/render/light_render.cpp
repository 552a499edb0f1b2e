#include "tools/render/light_render.h"

#include <optional>

#include "app/sim_sound_run.h"
#include "tools/render/night_setup.h"

namespace velmora::render {
namespace {

class LightWatch final : public GeneratorObserver {
 public:
  LightWatch(const RenderRequest& request, SimSoundRun& run,
             const std::function<bool(const LightRow&)>& row)
      : request_(request), run_(run), row_(row) {
    dimmed_ = run.state.lightLevel != 0;
    run.clock.onSleep = [this] { ReadTheLights(); };
  }
  ~LightWatch() override { run_.clock.onSleep = nullptr; }

  LightRenderResult result;

  void OnPhaseStart(Phase phase, int64_t) override {
    if (phase == Phase::kHealing && !enterScheduled_ &&
        request_.mode == RenderMode::kHealingThenProgramme) {
      enterScheduled_ = true;
      PressEnterAfter(run_, request_.healingSeconds);
    }
    if (phase == Phase::kHealing && request_.mode == RenderMode::kHealingOnly && !limitSet_) {
      limitSet_ = true;
      run_.clock.At(run_.clock.NowMs() + int64_t{request_.healingSeconds} * 1000, [this] {
        ReadTheLights();
        Finish(run_.clock.NowMs(), std::nullopt);
      });
    }
  }

  void OnProgrammeEnd(int64_t) override {
    ReadTheLights();
    // With a level the light thread ends here, writing 0.
    Finish(run_.clock.NowMs(), dimmed_ ? std::optional<int16_t>(0) : std::nullopt);
  }

  // Flushes the last row; false when a row could not be taken.
  bool Flush() {
    if (pending_ && !Emit(*pending_)) return false;
    pending_.reset();
    return !failed_;
  }

 private:
  // Takes what the lights show now: the port's writes since the last reading
  // and, with a level, the envelope and the pattern.
  void ReadTheLights() {
    if (done_) return;
    SharedState& s = run_.state;
    for (const PortRecord& r : run_.port.Records()) {
      if (r.port != s.lptDataPort) continue;
      if (dimmed_) {
        // The register's first write; the light thread starts right after it
        // at 63 of 64.
        if (!started_)
          StateBegins({r.timeMs, static_cast<uint8_t>(s.lptOnPattern.Load()), 63, true});
      } else {
        if (r.value != 0) onPattern_ = r.value;
        StateBegins({r.timeMs, onPattern_, static_cast<int16_t>(r.value != 0 ? 1 : 0), false});
      }
      started_ = true;
    }
    run_.port.Clear();
    if (dimmed_ && started_) {
      const int16_t level = s.envelopeNow;
      StateBegins({run_.clock.NowMs(), static_cast<uint8_t>(s.lptOnPattern.Load()),
                   static_cast<int16_t>(level < 0    ? 0
                                        : level > 63 ? 63
                                                     : level),
                   true});
    }
  }

  void StateBegins(const LightRow& row) {
    if (pending_ && pending_->timeMs == row.timeMs) {
      pending_ = row;  // the earlier state lasted no time
      return;
    }
    if (pending_ && !Emit(*pending_)) return;
    pending_ = row;
  }

  // Hands a row to the caller unless it shows what the last one did.
  bool Emit(const LightRow& row) {
    if (last_ && last_->pattern == row.pattern && last_->level == row.level) return true;
    last_ = row;
    if (!row_(row)) {
      failed_ = true;
      result.error = "the lights file could not be written";
      Stop();
      return false;
    }
    ++result.rows;
    return true;
  }

  void Finish(int64_t timeMs, std::optional<int16_t> finalLevel) {
    if (done_) return;
    if (finalLevel && started_)
      StateBegins(
          {timeMs, static_cast<uint8_t>(run_.state.lptOnPattern.Load()), *finalLevel, true});
    done_ = true;
    result.endMs = timeMs;
    Stop();
  }

  void Stop() {
    done_ = true;
    run_.generator.RequestStop();
  }

  const RenderRequest& request_;
  SimSoundRun& run_;
  const std::function<bool(const LightRow&)>& row_;
  bool dimmed_ = false;
  bool started_ = false;
  bool enterScheduled_ = false;
  bool limitSet_ = false;
  bool done_ = false;
  bool failed_ = false;
  uint8_t onPattern_ = 255;
  std::optional<LightRow> pending_;
  std::optional<LightRow> last_;
};

}  // namespace

LightRenderResult RenderLights(const RenderRequest& request,
                               const std::function<bool(const LightRow&)>& row) {
  SharedState state;
  SimClock clock(request.atSeconds);
  const BoundReport bounds = SetUpNight(request, state, clock);
  LightRenderResult result;
  if (state.soundMode != 0) {
    result.notLightMode = true;
    result.error = "the lights need a light-mode word: \"!N\" (dimmed, level N+1) or \"!-1\"";
    return result;
  }
  // The light thread's first act, before the generator starts.
  if (state.lightLevel != 0) state.envelopeNow = 63;

  SimSoundRun run(state, clock);
  LightWatch watch(request, run, row);
  run.generator.observer = &watch;
  run.Run();
  const bool flushed = watch.Flush();
  result = watch.result;
  result.dimmed = state.lightLevel != 0;
  result.ok = flushed && result.error.empty();
  result.notes = BoundNotes(bounds);
  return result;
}

std::string LightRowText(const LightRow& row) {
  std::string text = std::to_string(row.timeMs) + "," + std::to_string(row.pattern) + ",";
  if (row.dimmed) return text + std::to_string(row.level);
  return text + (row.level != 0 ? "on" : "off");
}

std::string LightHeaderText(bool dimmed) {
  return dimmed ? "time_ms,pattern,level" : "time_ms,pattern,light";
}

}  // namespace velmora::render
