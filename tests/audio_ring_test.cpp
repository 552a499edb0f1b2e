// The audio ring over the simulated wave device, and a whole night's writes
// against the blocks the device holds.
#include "output/audio_ring.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "platform/sim/sim_wave_device.h"
#include "sim_night.h"

namespace velmora {
namespace {

using testing::NightRecorder;
using testing::ReadWords;

struct CountingTarget : WaveNoticeTarget {
  int done = 0, closed = 0;
  void OnWaveBlockDone(WaveHeader*) override { ++done; }
  void OnWaveClosed() override { ++closed; }
};

struct RingBench {
  SharedState state;
  SimClock clock;
  SimWaveDevice device{clock};
  CountingTarget target;
  AudioRing ring;
  RingBench() { OpenAudioRing(ring, state, device, target); }
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

TEST(AudioRingTest, ReducedBlockCountKeepsTheBlockIndex) {
  RingBench b;
  b.state.blocksQueued = 37;
  b.state.lastHeader = 37 & 15;
  b.state.blocksQueued = b.state.blocksQueued & 15;  // the generator at a phase start
  EXPECT_TRUE(OnBlockDone(b.ring, b.state, &b.ring.waveHeaders[4]));
  EXPECT_EQ(b.state.playedMs, 5000);
  EXPECT_EQ(b.state.lastHeader, 6);
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

TEST(WholeNightTest, DeviceThatNeverOpensLeavesTheGeneratorWaiting) {
  SharedState state;
  SimClock clock(0);
  ReadWords(state, {"m1"});
  SimSoundRun run(state, clock, /*deviceOpens=*/false);
  NightRecorder recorder(run);
  run.generator.observer = &recorder;
  int64_t furthest = 0;
  recorder.onWrite = [&](int64_t position, int32_t) { furthest = std::max(furthest, position); };
  clock.At(120000, [&run] { run.generator.RequestStop(); });
  run.Run();
  EXPECT_EQ(state.playedMs, 0);
  EXPECT_EQ(state.tickCount, 0);
  EXPECT_LE(furthest, int64_t{kLeadMs} * 32 + 34000);  // waits at its lead limit
}

}  // namespace
}  // namespace velmora
