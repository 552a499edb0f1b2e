#include "generator/writers.h"

#include <algorithm>
#include <array>
#include <limits>

namespace velmora {
namespace {

constexpr int32_t kPacingSleepMs = 300;

// Durations are signed; a negative one (dutyRange 4 gives -1) means no wait,
// never a huge unsigned sleep.
void SleepMs(Generator& g, int32_t milliseconds) {
  if (milliseconds > 0) g.clock.Sleep(milliseconds);
}

int64_t RingOffset(const RingStorage& ring, int64_t position) {
  return position % ring.ringBytes;
}

}  // namespace

void FillSilence(Generator& g, int64_t position, int32_t count) {
  if (!g.ring || count <= 0) return;
  if (g.observer) g.observer->OnRingWrite(position, count);
  RingStorage& ring = *g.ring;
  // Every region is shorter than the ring within the bounds on the settings;
  // a longer one is cut to the ring so nothing outside it is touched.
  if (count > ring.ringBytes) count = ring.ringBytes;
  const int64_t start = RingOffset(ring, position);
  if (start + count < ring.ringBytes) {
    ring.Fill(start, count, kSilence);
    return;
  }
  ring.Fill(start, ring.ringBytes - start, kSilence);
  if (count > ring.ringBytes - start) ring.Fill(0, count - (ring.ringBytes - start), kSilence);
}

void WaitForPlayback(Generator& g, int64_t position) {
  const int64_t target = (position >> kRateShift) - kLeadMs;
  while (g.state.playedMs.Load() < target && !g.Stopping()) {
    g.clock.Sleep(kPacingSleepMs);
  }
}

void WritePulse(Generator& g, int64_t position, int32_t amplitude) {
  if (!g.ring) return;
  if (g.observer) g.observer->OnRingWrite(position, 8);
  RingStorage& ring = *g.ring;
  const int64_t base = RingOffset(ring, position);
  auto store = [&](int32_t j, int32_t v) {
    int64_t offset = base + j;
    if (offset >= ring.ringBytes) offset -= ring.ringBytes;
    ring.StoreSample(offset, static_cast<uint8_t>(v));
  };
  int32_t j = 1;
  if (g.state.invertedPulse == 0) {
    int32_t v = amplitude + 192;
    do {
      store(j, v);
      v -= 1 << j;
      ++j;
    } while (v > kSilence);
  } else {
    int32_t v = 64 - amplitude;
    do {
      store(j, v);
      v += 1 << j;
      ++j;
    } while (v < kSilence);
  }
}

void WriteTone(Generator& g, int64_t position, int32_t count, int32_t amplitude, ToneForm form) {
  constexpr int32_t n = 1 << kToneTableShift;
  constexpr int32_t mask = n - 1;
  auto& table = g.toneTable;
  int32_t i = 0;
  int32_t v = amplitude;
  do {
    table[i] = static_cast<uint8_t>(v);
    v = i < 30 ? v - (1 << i) : std::numeric_limits<int32_t>::min();
    ++i;
  } while (v > 0 && i != n);
  for (; i < n; ++i) table[i] = 0;
  g.toneOffset = 0;
  if (!g.ring) return;

  RingStorage& ring = *g.ring;
  if (g.observer) g.observer->OnRingWrite(position, count);
  // halfPeriod is at least 128 within the bounds on the settings; the divisor
  // is kept at 1 or more so nothing outside them can divide by zero.
  int32_t stride = g.halfPeriod >> kToneTableShift;
  if (stride < 1) stride = 1;
  const int32_t sign = form == ToneForm::kDifference ? -1 : 1;
  // The offset steps whenever the running count is a multiple of the stride.
  // The count's remainder is carried rather than divided out per sample, and
  // taken afresh when the 32-bit count wraps.
  auto remainder = [stride](int32_t samples) {
    const int32_t r = samples % stride;
    return r < 0 ? r + stride : r;
  };
  int32_t phase = remainder(g.toneSampleCount);
  int64_t offset = RingOffset(ring, position);
  // Samples are made a chunk at a time and stored a word at a time.
  std::array<uint8_t, 512> chunk;
  for (int32_t j = 0; j < count;) {
    const int64_t room = ring.ringBytes - offset;
    const auto part = static_cast<int32_t>(
        std::min<int64_t>({count - j, room, static_cast<int64_t>(chunk.size())}));
    for (int32_t k = 0; k < part; ++k, ++j) {
      const int32_t a = j & mask;
      const int32_t b = (j + g.toneOffset) & mask;
      chunk[k] = static_cast<uint8_t>(kSilence + sign * table[a] + table[b]);
      g.toneSampleCount = static_cast<int32_t>(static_cast<uint32_t>(g.toneSampleCount) + 1u);
      phase = g.toneSampleCount == std::numeric_limits<int32_t>::min()
                  ? remainder(g.toneSampleCount)
                  : (phase + 1 == stride ? 0 : phase + 1);
      if (phase == 0) ++g.toneOffset;
    }
    ring.Store(offset, chunk.data(), part);
    offset += part;
    if (offset == ring.ringBytes) offset = 0;
  }
}

void PortPulse(Generator& g, int32_t halfPeriod, int32_t dutyOffset, int32_t amplitude) {
  const uint16_t port = g.state.lptDataPort;
  g.port.PortWrite(port, static_cast<uint8_t>(g.state.lptOnPattern.Load()));
  int32_t on = ((halfPeriod - dutyOffset) * amplitude) >> (kRateShift + 6);
  // dutyRange 4 gives dutyOffset = halfPeriod + 1 and so an on-time of -1:
  // the port is lit for no time and the pulse keeps its length.
  if (on < 0) on = 0;
  SleepMs(g, on);
  g.port.PortWrite(port, 0);
  SleepMs(g, (halfPeriod >> (kRateShift - 1)) - on);
}

void LightPulse(Generator& g, int32_t halfPeriod, int32_t dutyOffset) {
  SleepMs(g, (halfPeriod - dutyOffset) >> kRateShift);
  g.state.envelopeNow = 0;
  SleepMs(g, (dutyOffset + halfPeriod) >> kRateShift);
}

void EmitPulse(Generator& g, Phase phase) {
  SharedState& s = g.state;
  const int32_t stepPeriod = s.stepPeriod;
  const int32_t amplitude = s.envelope[(g.pulseIndex << 8) / stepPeriod];
  s.envelopeNow = static_cast<int16_t>(amplitude);
  if (g.observer) g.observer->OnPulse();

  if (s.soundMode == 1) {
    const bool healing = phase == Phase::kHealing;
    int64_t position = healing ? g.healingPos : s.samplePos.Load();
    const int32_t length = 2 * g.halfPeriod;
    if (healing) {
      WaitForPlayback(g, position);
    } else {
      FillSilence(g, position, length);
    }
    if (s.toneMode == 1) {
      WriteTone(g, position, length, amplitude, healing ? ToneForm::kDifference : ToneForm::kSum);
    } else {
      WritePulse(g, position, amplitude);
    }
    position += length;
    if (healing) {
      g.healingPos = position;
    } else {
      s.samplePos = position;
      WaitForPlayback(g, position);
    }
  } else if (s.lightLevel == 0) {
    PortPulse(g, g.halfPeriod, g.dutyOffset, amplitude);
  } else {
    LightPulse(g, g.halfPeriod, g.dutyOffset);
  }
}

}  // namespace velmora
