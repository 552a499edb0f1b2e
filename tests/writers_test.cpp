// The pulse and tone writers, the silence fill and the pacing wait.
#include "generator/writers.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "platform/sim/recording_port.h"
#include "platform/sim/sim_clock.h"

namespace velmora {
namespace {

struct WriterBench {
  SharedState state;
  SimClock clock;
  RecordingPort port{clock};
  Generator g{state, clock, port};
  WriterBench() { g.ring = std::make_shared<RingStorage>(kRingBytes); }
  std::vector<int> Samples(int64_t position, int count) const {
    std::vector<int> out;
    for (int i = 0; i < count; ++i) out.push_back(g.ring->Sample((position + i) % kRingBytes));
    return out;
  }
};

TEST(WritePulseTest, Shapes) {
  struct Case {
    int inverted, amplitude;
    std::vector<int> samples;  // offsets 0..8
  };
  for (const Case& c : std::initializer_list<Case>{
           {0, 63, {128, 255, 253, 249, 241, 225, 193, 129, 128}},
           {0, 0, {128, 192, 190, 186, 178, 162, 130, 128, 128}},
           {1, 63, {128, 1, 3, 7, 15, 31, 63, 127, 128}},
           {1, 0, {128, 64, 66, 70, 78, 94, 126, 128, 128}},
       }) {
    WriterBench b;
    b.state.invertedPulse = static_cast<uint8_t>(c.inverted);
    WritePulse(b.g, 1000, c.amplitude);
    EXPECT_EQ(b.Samples(1000, 9), c.samples) << c.inverted << " " << c.amplitude;
  }
}

TEST(WritePulseTest, WrapsAtTheRingEnd) {
  WriterBench b;
  WritePulse(b.g, 2 * int64_t{kRingBytes} - 3, 63);  // offsets 1..2 at the end, 3..7 from 0
  EXPECT_EQ(b.Samples(kRingBytes - 3, 9),
            (std::vector<int>{128, 255, 253, 249, 241, 225, 193, 129, 128}));
}

TEST(WriteToneTest, Tables) {
  struct Case {
    int amplitude;
    std::vector<int> head;  // entries 0..7
  };
  for (const Case& c : std::initializer_list<Case>{
           {63, {63, 62, 60, 56, 48, 32, 0, 0}},
           {32, {32, 31, 29, 25, 17, 1, 0, 0}},
           {0, {0, 0, 0, 0, 0, 0, 0, 0}},
       }) {
    WriterBench b;
    b.g.halfPeriod = 888;
    WriteTone(b.g, 0, 256, c.amplitude, ToneForm::kSum);
    std::vector<int> head(b.g.toneTable.begin(), b.g.toneTable.begin() + 8);
    EXPECT_EQ(head, c.head) << c.amplitude;
    for (size_t i = 8; i < b.g.toneTable.size(); ++i) EXPECT_EQ(b.g.toneTable[i], 0);
  }
  WriterBench silent;
  silent.g.halfPeriod = 888;
  WriteTone(silent.g, 0, 1776, 0, ToneForm::kDifference);
  for (int v : silent.Samples(0, 1776)) ASSERT_EQ(v, 128);
}

TEST(WriteToneTest, PulseSamples) {
  struct Case {
    ToneForm form;
    int first;
    std::vector<int> samples;
  };
  for (const Case& c : std::initializer_list<Case>{
           {ToneForm::kDifference, 110, {191, 190, 188, 184, 160}},
           {ToneForm::kDifference, 128, {65, 66, 68, 72, 80, 96}},
           {ToneForm::kSum, 0, {254, 252, 248, 240, 224, 192}},
           {ToneForm::kSum, 110, {191, 190, 188, 184, 160}},
           {ToneForm::kSum, 128, {191, 190, 188, 184, 176, 160}},
       }) {
    WriterBench b;
    b.g.halfPeriod = 888;  // the offset creeps every 888 >> 7 = 6 samples
    b.g.toneSampleCount = 0;
    const int64_t position = 5 * int64_t{kRingBytes} + 777;
    WriteTone(b.g, position, 1776, 63, c.form);
    EXPECT_EQ(b.Samples(position + c.first, static_cast<int>(c.samples.size())), c.samples)
        << (c.form == ToneForm::kSum ? "sum " : "difference ") << c.first;
    EXPECT_EQ(b.g.toneOffset, 296);
    EXPECT_EQ(b.g.toneSampleCount, 1776);
    if (c.form == ToneForm::kDifference) {
      for (int v : b.Samples(position, 110)) ASSERT_EQ(v, 128);
    }
  }
}

TEST(WriteToneTest, RunningCountCarriesAcrossPulses) {
  // The count goes on from pulse to pulse: the second pulse's offset steps at
  // the counts 890..1777 divisible by the stride 3, not at its own 3, 6, 9...
  WriterBench split;
  split.g.halfPeriod = 444;  // stride 444 >> 7 = 3
  split.g.toneSampleCount = 1;
  WriteTone(split.g, 0, 888, 40, ToneForm::kSum);
  WriteTone(split.g, 888, 888, 40, ToneForm::kSum);
  EXPECT_EQ(split.g.toneSampleCount, 1 + 1776);
  EXPECT_EQ(split.g.toneOffset, 1777 / 3 - 889 / 3);
  WriterBench fresh;
  fresh.g.halfPeriod = 444;
  fresh.g.toneSampleCount = 0;
  WriteTone(fresh.g, 0, 888, 40, ToneForm::kSum);
  EXPECT_NE(fresh.Samples(0, 888), split.Samples(888, 888));
}

TEST(FillSilenceTest, WrapsAtTheRingEnd) {
  struct Case {
    int64_t position;
    int32_t count;
    bool firstByteFilled;
  };
  for (const Case& c : std::initializer_list<Case>{
           {kRingBytes - 100, 100, false},  // ends exactly at the ring's end: one part
           {kRingBytes - 100, 101, true},   // one byte longer: byte 0 too
           {3 * int64_t{kRingBytes} - 5, 10, true},
       }) {
    WriterBench b;
    b.g.ring->Fill(0, kRingBytes, 7);
    FillSilence(b.g, c.position, c.count);
    const int64_t start = c.position % kRingBytes;
    for (int64_t i = 0; i < c.count; ++i) {
      ASSERT_EQ(b.g.ring->Sample((start + i) % kRingBytes), 128) << i;
    }
    EXPECT_EQ(b.g.ring->Sample(start - 1), 7);
    EXPECT_EQ(b.g.ring->Sample(0), c.firstByteFilled ? 128 : 7);
    EXPECT_EQ(b.g.ring->Sample((start + c.count) % kRingBytes), 7);
  }
}

TEST(WaitForPlaybackTest, WaitsUntilThreeSecondsAhead) {
  struct Case {
    int32_t playedMs;
    int64_t sleptMs;
  };
  for (const Case& c : std::initializer_list<Case>{{1000, 0}, {999, 300}, {5000, 0}}) {
    WriterBench b;
    b.state.playedMs = c.playedMs;
    // The device catches up 1 ms after the first pacing sleep.
    b.clock.At(1, [&b] { b.state.playedMs = 1000; });
    WaitForPlayback(b.g, int64_t{4000} << 5);
    EXPECT_EQ(b.clock.NowMs(), c.sleptMs) << c.playedMs;
  }
}

TEST(PortPulseTest, Durations) {
  struct Case {
    int amplitude;
    int64_t onMs, offMs;
  };
  for (const Case& c : std::initializer_list<Case>{{63, 13, 42}, {0, 0, 55}}) {
    WriterBench b;
    PortPulse(b.g, 888, 445, c.amplitude);
    const auto& w = b.port.Records();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].value, 255);
    EXPECT_EQ(w[0].port, 0x378);
    EXPECT_EQ(w[1].value, 0);
    EXPECT_EQ(w[1].timeMs - w[0].timeMs, c.onMs);
    EXPECT_EQ(b.clock.NowMs() - w[1].timeMs, c.offMs);
  }
  // dutyRange 4 makes the on-time negative: it counts as 0, never as a huge
  // wait, and the pulse keeps its 55 ms.
  WriterBench b;
  PortPulse(b.g, 888, 889, 63);
  EXPECT_EQ(b.port.Records()[1].timeMs, 0);
  EXPECT_EQ(b.clock.NowMs(), 55);
}

TEST(LightPulseTest, Durations) {
  WriterBench b;
  b.state.envelopeNow = 40;
  int16_t heldDuringFirstWait = -1;
  b.clock.At(12, [&b, &heldDuringFirstWait] { heldDuringFirstWait = b.state.envelopeNow; });
  LightPulse(b.g, 888, 445);
  EXPECT_EQ(heldDuringFirstWait, 40);
  EXPECT_EQ(b.state.envelopeNow, 0);
  EXPECT_EQ(b.clock.NowMs(), 13 + 41);
  WriterBench negative;
  LightPulse(negative.g, 888, 889);  // the first wait would be -1
  EXPECT_EQ(negative.clock.NowMs(), (889 + 888) >> 5);
}

TEST(EmitPulseTest, AmplitudeFollowsTheEnvelopeAcrossTheStep) {
  WriterBench b;
  for (int i = 0; i < 256; ++i) b.state.envelope[i] = static_cast<uint8_t>(i % 64);
  b.state.stepPeriod = 10;
  b.g.halfPeriod = 200;
  std::vector<int> amplitudes;
  for (b.g.pulseIndex = 0; b.g.pulseIndex < 10; ++b.g.pulseIndex) {
    EmitPulse(b.g, Phase::kSleepProgramme);
    amplitudes.push_back(b.state.envelopeNow);
  }
  // Entries (i * 256) / 10.
  EXPECT_EQ(amplitudes, (std::vector<int>{0, 25, 51 % 64, 76 % 64, 102 % 64, 128 % 64, 153 % 64,
                                          179 % 64, 204 % 64, 230 % 64}));
  EXPECT_EQ(b.state.samplePos, 10 * 400);
}

}  // namespace
}  // namespace velmora
