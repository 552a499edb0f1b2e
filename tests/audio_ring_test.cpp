// The audio ring over the simulated wave device, and a whole night's writes
// against the blocks the device holds.
#include "output/audio_ring.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <thread>

#include "platform/sim/sim_wave_device.h"
#include "sim_night.h"

namespace velmora {
namespace {

using testing::NightRecorder;
using testing::ReadWords;
using testing::StepRecord;

struct CountingTarget : WaveNoticeTarget {
  int done = 0, closed = 0;
  void OnWaveBlockDone(WaveHeader*) override { ++done; }
  void OnWaveClosed() override { ++closed; }
  void OnWaveLost(const std::string&) override {}
  void OnWaveBack() override {}
};

struct RingBench {
  SharedState state;
  SimClock clock;
  SimWaveDevice device{clock};
  CountingTarget target;
  AudioRing ring;
  std::string why;
  RingBench() { OpenAudioRing(ring, state, device, target, why); }
};

TEST(AudioRingTest, OpensSixteenPreparedBlocksOfSilence) {
  RingBench b;
  EXPECT_EQ(b.ring.waveFormat.samplesPerSec, 32000u);
  EXPECT_EQ(b.ring.waveFormat.avgBytesPerSec, 32000u);
  EXPECT_EQ(b.ring.waveFormat.bitsPerSample, 8);
  EXPECT_EQ(b.ring.waveFormat.channels, 1);
  EXPECT_EQ(b.ring.storage->ringBytes, 512000);
  for (int64_t i = 0; i < b.ring.storage->ringBytes; ++i) ASSERT_EQ(b.ring.storage->Sample(i), 128);
  for (int i = 0; i < kRingBlocks; ++i) {
    const WaveHeader& h = b.ring.waveHeaders[i];
    EXPECT_EQ(h.data, b.ring.storage->words.get() + i * 4000) << i;
    EXPECT_EQ(h.bufferLength, 32000);
    EXPECT_TRUE(h.prepared);
  }
  ASSERT_EQ(b.device.Held().size(), 1u);
  EXPECT_EQ(b.device.Held()[0], &b.ring.waveHeaders[0]);
  EXPECT_EQ(b.state.lastHeader, 0);
}

TEST(AudioRingTest, NoticeAcceptsExactlyTheSixteenHeaders) {
  struct Case {
    int header;
    int byteOffset;
    bool accepted;
  };
  for (const Case& c : std::initializer_list<Case>{
           {0, 0, true},
           {15, 0, true},
           {7, 0, true},
           {0, -1, false},
           {15, 1, false},
           {15, static_cast<int>(sizeof(WaveHeader)), false},
       }) {
    RingBench b;
    const auto* address =
        reinterpret_cast<const char*>(&b.ring.waveHeaders[c.header]) + c.byteOffset;
    EXPECT_EQ(OnBlockDone(b.ring, b.state, address), c.accepted) << c.header << " " << c.byteOffset;
    EXPECT_EQ(b.state.tickCount, c.accepted ? 1 : 0);
    EXPECT_EQ(b.state.blocksQueued, c.accepted ? 1 : 0);
  }
}

TEST(AudioRingTest, SixteenthQueueCallReusesHeaderZero) {
  RingBench b;
  for (int i = 1; i <= 15; ++i) QueueNextBlock(b.ring, b.state);
  EXPECT_EQ(b.state.lastHeader, 15);
  QueueNextBlock(b.ring, b.state);
  EXPECT_EQ(b.state.blocksQueued, 16);
  EXPECT_EQ(b.state.lastHeader, 0);
  EXPECT_EQ(b.device.Held().back(), &b.ring.waveHeaders[0]);
  // The header handed over was prepared again first.
  EXPECT_EQ(b.device.UnpreparedWrites(), 0);
}

TEST(AudioRingTest, PlayedClockFollowsTheBlockCount) {
  // The generator's reduction at a phase start keeps the block index; weeks
  // of healing (more than 2^31 ms) leave the played clock exact.
  struct Case {
    int32_t blocksQueued;
    bool reduced;
    int64_t playedMs;
    int32_t nextHeader;
  };
  for (const Case& c : std::initializer_list<Case>{
           {37, true, 5000, 6},
           {37, false, 37000, 6},
           {2147483, false, 2147483000, 12},
           {2147484, false, 2147484000, 13},
           {3000000, false, 3000000000, 1},
           {2147483646, false, 2147483646000, 15},
       }) {
    RingBench b;
    b.state.blocksQueued = c.blocksQueued;
    b.state.lastHeader = c.blocksQueued & 15;
    if (c.reduced) b.state.blocksQueued.FetchAnd(15);
    EXPECT_TRUE(OnBlockDone(b.ring, b.state, &b.ring.waveHeaders[4]));
    EXPECT_EQ(b.state.playedMs, c.playedMs) << c.blocksQueued;
    EXPECT_EQ(b.state.lastHeader, c.nextHeader) << c.blocksQueued;
  }
}

TEST(ThreadedAudioRingTest, NoBlockIsLostToTheGeneratorsReduction) {
  // The window thread queues a million blocks while the generator reduces the
  // count as often as it can: every increment lands, so the low four bits
  // count exactly a million, and every reduction leaves them as they were.
  RingBench b;
  constexpr int32_t kBlocks = 1'000'000;
  std::atomic<bool> done{false};
  std::atomic<int64_t> reductions{0};
  std::thread generator([&] {
    while (!done.load()) {
      b.state.blocksQueued.FetchAnd(kRingBlockMask);
      reductions.fetch_add(1);
    }
  });
  for (int32_t i = 0; i < kBlocks; ++i) QueueNextBlock(b.ring, b.state);
  done = true;
  generator.join();
  EXPECT_GT(reductions.load(), 0);
  EXPECT_EQ(b.state.blocksQueued & kRingBlockMask, kBlocks & kRingBlockMask);
  EXPECT_EQ(b.state.lastHeader, kBlocks & kRingBlockMask);
  b.state.blocksQueued.FetchAnd(kRingBlockMask);
  EXPECT_EQ(b.state.blocksQueued, kBlocks & kRingBlockMask);
}

TEST(AudioRingTest, LightModeQueuesNothing) {
  RingBench b;
  b.state.soundMode = 0;
  QueueNextBlock(b.ring, b.state);
  EXPECT_EQ(b.state.blocksQueued, 0);
  EXPECT_EQ(b.device.Held().size(), 1u);
}

TEST(AudioRingTest, ClosesOnceAndTheGeneratorKeepsTheBytes) {
  RingBench b;
  std::shared_ptr<RingStorage> generatorShare = b.ring.storage;
  std::weak_ptr<RingStorage> watch = b.ring.storage;
  CloseAudioRing(b.ring);
  EXPECT_FALSE(b.device.IsOpen());
  for (const WaveHeader& h : b.ring.waveHeaders) EXPECT_FALSE(h.prepared);
  EXPECT_FALSE(watch.expired());  // the generator may still write
  generatorShare->StoreSample(5, 1);
  b.clock.Advance(0);  // the device's closed notice arrives
  EXPECT_EQ(b.target.closed, 1);
  CloseAudioRing(b.ring);  // the close path again, from that notice
  EXPECT_FALSE(b.ring.storage);
  generatorShare.reset();
  EXPECT_TRUE(watch.expired());
  // Notices after the close change nothing.
  EXPECT_TRUE(OnBlockDone(b.ring, b.state, &b.ring.waveHeaders[1]));
  EXPECT_EQ(b.state.blocksQueued, 0);
}

TEST(AudioRingTest, BlocksPlayOneSecondEachInTheOrderHandedOver) {
  RingBench b;
  std::vector<int> played;
  b.device.SetTap([&](const WaveHeader& h) {
    played.push_back(static_cast<int>(&h - b.ring.waveHeaders.data()));
  });
  QueueNextBlock(b.ring, b.state);
  QueueNextBlock(b.ring, b.state);
  b.clock.Advance(2999);
  EXPECT_EQ(played, (std::vector<int>{0, 1}));
  EXPECT_EQ(b.target.done, 2);
  b.clock.Advance(1);
  EXPECT_EQ(played, (std::vector<int>{0, 1, 2}));
}

// A night on the sim platform: every write of the generator stays ahead of
// the blocks the device holds (but for the deliberate restart in the block
// being played at a phase start) and no more than the lead plus one piece
// ahead of the played clock.
TEST(WholeNightTest, WriterNeverTouchesTheHeldBlocks) {
  struct Setting {
    std::vector<std::string> words;
  };
  for (const Setting& setting : std::initializer_list<Setting>{
           {{"m1"}},
           {{"m8", "r7", "+6", "#"}},
           {{"m2", "r2", "+0", ":"}},
       }) {
    SharedState state;
    SimClock clock(0);
    ReadWords(state, setting.words);
    SimSoundRun run(state, clock);
    NightRecorder recorder(run);
    run.generator.observer = &recorder;
    int64_t phaseStartTime = -1, writes = 0, violations = 0, maxLeadSamples = 0;
    recorder.onPhase = [&](NightRecorder& r, Phase, int64_t) {
      phaseStartTime = r.run.clock.NowMs();
    };
    // Enter after ten minutes of healing; stop when the programme is over and
    // healing has begun again.
    clock.At(10 * 60 * 1000, [&state] { state.healingMode = 0; });
    recorder.onProgrammeEnd = [](NightRecorder& r) {
      r.run.clock.At(r.run.clock.NowMs() + 60000, [&r] { r.run.generator.RequestStop(); });
    };
    recorder.onWrite = [&](int64_t position, int32_t count) {
      ++writes;
      const int64_t played = int64_t{state.playedMs.Load()} << 5;
      const int64_t lead = position - played;
      maxLeadSamples = std::max(maxLeadSamples, lead);
      const bool restart = clock.NowMs() == phaseStartTime;
      const bool intoHeld = position < played + 2 * kBlockBytes;  // playing or queued block
      const bool wraps = position + count > played + kRingBytes;  // round onto them again
      if ((intoHeld && !restart) || wraps || lead < 0) ++violations;
    };
    run.Run();
    EXPECT_EQ(recorder.programmeEnds.size(), 1u);
    EXPECT_GT(writes, 100000);
    EXPECT_EQ(violations, 0) << setting.words[0];
    // 3 s of lead plus one piece: the longest, a rise's gap piece, is about
    // twice the floor's half period, under 34000 samples.
    EXPECT_LE(maxLeadSamples, int64_t{kLeadMs} * 32 + 34000);
    EXPECT_GT(maxLeadSamples, int64_t{kLeadMs} * 32);
    EXPECT_EQ(run.device.UnpreparedWrites(), 0);
  }
}

// What a night did, for comparing one with faults against one without.
struct NightTimes {
  std::map<int64_t, int64_t> stepMs;  // programme step number -> virtual time
  bool overload = false;
  size_t programmeEnds = 0;
  bool resumedAtTheDueBlock = true;
};

// The sound device away (from the start, or for a while), the computer
// suspended, the generator stalled while the machine is awake: the night must
// keep the time of a night without faults, step by step within two seconds,
// and the load test must trip on the stall alone.
struct Fault {
  const char* name;
  bool opensAtStart = true;
  int64_t loseAtMs = -1, backAtMs = -1;  // from Enter
  int64_t pauseAtStep = -1, pauseMs = 0;
  bool suspended = false;  // the pause is a suspend, else the process stopped
};

NightTimes RunNight(const Fault& fault) {
  constexpr int64_t kEnterMs = 60000;
  SharedState state;
  SimClock clock(0);
  ReadWords(state, {"m1"});
  SimSoundRun run(state, clock, fault.opensAtStart);
  NightRecorder recorder(run);
  run.generator.observer = &recorder;
  NightTimes times;
  clock.At(kEnterMs, [&state] { state.healingMode = 0; });
  if (fault.loseAtMs >= 0) {
    clock.At(kEnterMs + fault.loseAtMs, [&run] { run.device.Lose("unplugged"); });
  }
  if (fault.backAtMs >= 0) {
    clock.At(kEnterMs + fault.backAtMs, [&] {
      run.device.ComeBack();
      // Just after the notice: the device holds the block the played clock
      // names and the one after it.
      clock.At(clock.NowMs(), [&] {
        const auto& held = run.device.Held();
        const int32_t due = (state.playedMs / 1000) & kRingBlockMask;
        times.resumedAtTheDueBlock = held.size() == 2 && held[0] == &run.ring.waveHeaders[due];
      });
    });
  }
  recorder.onStep = [&](NightRecorder&, const StepRecord& step) {
    if (step.phase != Phase::kSleepProgramme) return;
    times.stepMs[step.number] = clock.MonotonicMs();
    times.overload = times.overload || step.label == kOverloadLabel;
    if (step.number == fault.pauseAtStep) {
      if (fault.suspended) {
        clock.Suspend(fault.pauseMs);
      } else {
        clock.Stall(fault.pauseMs);
      }
    }
  };
  recorder.onProgrammeEnd = [&times](NightRecorder& r) {
    ++times.programmeEnds;
    r.run.clock.At(r.run.clock.NowMs() + 30000, [&r] { r.run.generator.RequestStop(); });
  };
  run.Run();
  return times;
}

TEST(WholeNightTest, FaultsKeepTheNightsTime) {
  const NightTimes reference = RunNight({"no fault"});
  ASSERT_EQ(reference.programmeEnds, 1u);
  ASSERT_GT(reference.stepMs.size(), 2000u);
  for (const Fault& fault : std::initializer_list<Fault>{
           {"no device at start, one after 30 min", false, -1, 30 * 60000},
           {"no device all night", false},
           {"lost at 20 min, back at 40", true, 20 * 60000, 40 * 60000},
           {"lost 5 s after Enter, never back", true, 5000},
           {"an hour suspended at step 50", true, -1, -1, 50, 3600 * 1000, true},
       }) {
    const NightTimes night = RunNight(fault);
    EXPECT_FALSE(night.overload) << fault.name;
    EXPECT_TRUE(night.resumedAtTheDueBlock) << fault.name;
    EXPECT_EQ(night.programmeEnds, 1u) << fault.name;
    EXPECT_EQ(night.stepMs.size(), reference.stepMs.size()) << fault.name;
    int64_t worst = 0;
    for (const auto& [step, ms] : reference.stepMs) {
      if (night.stepMs.count(step)) worst = std::max(worst, std::abs(night.stepMs.at(step) - ms));
    }
    EXPECT_LE(worst, 2000) << fault.name;
  }
  // Half a minute stopped while the computer is awake (at step 50 the
  // programme is 20 s ahead of the load test's limit): the load test ends
  // the programme.
  const NightTimes stalled = RunNight({"stalled", true, -1, -1, 50, 30000, false});
  EXPECT_TRUE(stalled.overload);
  EXPECT_EQ(stalled.programmeEnds, 1u);
  EXPECT_LT(stalled.stepMs.size(), 60u);
}

}  // namespace
}  // namespace velmora
