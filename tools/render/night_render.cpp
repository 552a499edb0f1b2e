#include "tools/render/night_render.h"

#include <algorithm>
#include <array>

#include "app/options.h"
#include "app/sim_sound_run.h"
#include "tools/render/night_setup.h"

namespace velmora::render {
namespace {

class Capture final : public GeneratorObserver {
 public:
  Capture(const RenderRequest& request, SimSoundRun& run, SampleSink& sink,
          const std::function<void(const RenderProgress&)>& progress)
      : request_(request), run_(run), sink_(sink), progress_(progress) {
    run_.device.SetTap([this](const WaveHeader& header) { OnBlockPlayed(header); });
    if (request.mode == RenderMode::kHealingOnly) {
      limit_ = static_cast<int64_t>(request.healingSeconds) * kSampleRate;
    }
  }

  RenderResult result;

  void OnPhaseStart(Phase phase, int64_t position) override {
    const bool healing = phase == Phase::kHealing;
    if (healing && !startedHealing_ && request_.mode != RenderMode::kProgramme) {
      startedHealing_ = true;
      Begin(position);
      if (request_.mode == RenderMode::kHealingThenProgramme) {
        PressEnterAfter(run_, request_.healingSeconds);
      }
      if (limit_ == 0 && request_.mode == RenderMode::kHealingOnly) Stop();
    }
    if (!healing) {
      expected_ += int64_t{run_.state.planMinutes.Load()} * 60 * kSampleRate;
      result.programmeStart = position;
      if (request_.mode == RenderMode::kProgramme) Begin(position);
    }
  }

  void OnStepStart(Phase phase, int64_t stepNumber) override {
    if (phase == Phase::kSleepProgramme) result.steps = stepNumber;
    if (progress_) progress_({result.samples, expected_});
  }

  void OnPulse() override {
    ++result.pulses;
    if (request_.pulseLimit != 0 && result.pulses > request_.pulseLimit) Stop();
  }

  void OnProgrammeEnd(int64_t position) override {
    if (stopped_) return;
    result.programmeEnd = position;
    result.cycles = run_.state.cycleIndex;
    // The blocks played so far are captured; the rest of the programme is
    // still in the ring, from the block now playing up to the end position,
    // about to be silenced by the end steps.
    const int64_t playing = run_.state.playedMs.Load() << kRateShift;
    if (position < playing) {
      Fail("the programme ended behind the played clock");
    } else {
      const RingStorage& ring = *run_.generator.ring;
      for (int64_t p = playing; p < position && !stopped_;) {
        const int64_t offset = p % ring.ringBytes;
        const int64_t count = std::min({position - p, kChunk, ring.ringBytes - offset});
        CopyBlockSamples(ring.words.get(), offset, count, chunk_.data());
        Emit(chunk_.data(), count);
        p += count;
      }
    }
    if (request_.mode == RenderMode::kProgramme && !stopped_ &&
        result.samples != position - result.programmeStart) {
      Fail("captured samples do not match the programme's length");
    }
    Stop();
  }

  void SetExpected(int64_t samples) { expected_ = samples; }

 private:
  static constexpr int64_t kChunk = kBlockBytes;

  void Begin(int64_t position) {
    capturing_ = true;
    nextHeader_ = static_cast<int32_t>(position % kRingBytes / kBlockBytes);
  }

  void OnBlockPlayed(const WaveHeader& header) {
    if (!capturing_ || stopped_) return;
    const auto index = static_cast<int32_t>(&header - run_.ring.waveHeaders.data());
    if (index != nextHeader_) {
      Fail("the device played the ring's blocks out of order");
      return;
    }
    nextHeader_ = (index + 1) & kRingBlockMask;
    CopyBlockSamples(header.data, 0, header.bufferLength, chunk_.data());
    Emit(chunk_.data(), header.bufferLength);
  }

  void Emit(const uint8_t* samples, int64_t count) {
    if (limit_ > 0 && result.samples + count >= limit_) {
      count = limit_ - result.samples;
      if (!sink_.Write(samples, static_cast<size_t>(count))) Fail("");
      result.samples += count;
      Stop();
      return;
    }
    if (!sink_.Write(samples, static_cast<size_t>(count))) {
      Fail("");
      return;
    }
    result.samples += count;
  }

  void Fail(const std::string& why) {
    if (result.error.empty()) result.error = why.empty() ? "the output could not be written" : why;
    failed_ = true;
    Stop();
  }

  void Stop() {
    stopped_ = true;
    run_.generator.RequestStop();
    if (!failed_) result.ok = true;
  }

  const RenderRequest& request_;
  SimSoundRun& run_;
  SampleSink& sink_;
  const std::function<void(const RenderProgress&)>& progress_;
  std::array<uint8_t, kChunk> chunk_{};
  bool capturing_ = false;
  bool startedHealing_ = false;
  bool stopped_ = false;
  bool failed_ = false;
  int32_t nextHeader_ = 0;
  int64_t limit_ = 0;
  int64_t expected_ = 0;
};

}  // namespace

RenderResult RenderNight(const RenderRequest& request, SampleSink& sink,
                         const std::function<void(const RenderProgress&)>& progress) {
  SharedState state;
  SimClock clock(request.atSeconds);
  const BoundReport bounds = SetUpNight(request, state, clock);
  const bool lightWords = state.soundMode == 0;
  // Sound is what a render captures: the light-mode word is taken as sound.
  state.soundMode = 1;

  SimSoundRun run(state, clock);
  Capture capture(request, run, sink, progress);
  // The programme's share of the expected length is added when it starts.
  if (request.mode != RenderMode::kProgramme) {
    capture.SetExpected(int64_t{request.healingSeconds} * kSampleRate);
  }
  run.generator.observer = &capture;
  run.Run();

  RenderResult result = capture.result;
  result.planMinutes = state.planMinutes;
  result.remCount = state.remCount;
  result.timePlus = state.timePlus;
  result.moonFactor = state.moonFactor;
  result.toneMode = state.toneMode == 1;
  if (lightWords)
    result.notes.emplace_back("the light-mode word \"!\" is ignored: a render writes sound");
  const std::vector<std::string> moved = BoundNotes(bounds);
  result.notes.insert(result.notes.end(), moved.begin(), moved.end());
  return result;
}

}  // namespace velmora::render
