#include "output/audio_ring.h"

namespace velmora {

namespace {
// The word holding byte `offset`; offsets are inside the ring, so they fit.
inline size_t WordIndex(int64_t offset) {
  return static_cast<size_t>(offset >> 3);
}

uint64_t Repeated(uint8_t value) {
  return 0x0101010101010101ull * value;
}
}  // namespace

RingStorage::RingStorage(int32_t bytes)
    : ringBytes(bytes), words(new std::atomic<uint64_t>[(static_cast<size_t>(bytes) + 7) / 8]) {
  for (size_t i = 0; i < (static_cast<size_t>(bytes) + 7) / 8; ++i) {
    words[i].store(kSilentWord, std::memory_order_relaxed);
  }
}

void RingStorage::StoreSample(int64_t offset, uint8_t value) {
  std::atomic<uint64_t>& word = words[WordIndex(offset)];
  const int shift = static_cast<int>(offset & 7) * 8;
  const uint64_t old = word.load(std::memory_order_relaxed);
  word.store((old & ~(0xFFull << shift)) | (static_cast<uint64_t>(value) << shift),
             std::memory_order_relaxed);
}

void RingStorage::Fill(int64_t start, int64_t count, uint8_t value) {
  int64_t i = start;
  const int64_t end = start + count;
  for (; i < end && (i & 7) != 0; ++i) StoreSample(i, value);
  const uint64_t pattern = Repeated(value);
  for (; i + 8 <= end; i += 8) words[WordIndex(i)].store(pattern, std::memory_order_relaxed);
  for (; i < end; ++i) StoreSample(i, value);
}

void RingStorage::Store(int64_t start, const uint8_t* samples, int64_t count) {
  int64_t i = start;
  const int64_t end = start + count;
  for (; i < end && (i & 7) != 0; ++i) StoreSample(i, *samples++);
  for (; i + 8 <= end; i += 8, samples += 8) {
    uint64_t word = 0;
    for (int k = 7; k >= 0; --k) word = (word << 8) | samples[k];
    words[WordIndex(i)].store(word, std::memory_order_relaxed);
  }
  for (; i < end; ++i) StoreSample(i, *samples++);
}

bool OpenAudioRing(AudioRing& ring, SharedState& state, WaveDevice& device,
                   WaveNoticeTarget& target, std::string& why) {
  WaveFormat& f = ring.waveFormat;
  f.formatTag = 1;
  f.channels = 1;
  f.samplesPerSec = static_cast<uint32_t>(kSampleRate);
  f.avgBytesPerSec = f.samplesPerSec;
  f.blockAlign = 1;
  f.bitsPerSample = 8;
  f.extraSize = 0;
  ring.waveDevice = &device;
  const bool opened = device.Open(f, target, why);

  const auto blockBytes = static_cast<int32_t>(f.avgBytesPerSec);
  ring.storage = std::make_shared<RingStorage>(blockBytes * kRingBlocks);
  for (int32_t i = 0; i < kRingBlocks; ++i) {
    WaveHeader& h = ring.waveHeaders[i];
    h.bufferLength = blockBytes;
    h.data = ring.storage->words.get() + static_cast<size_t>(i) * blockBytes / 8;
    device.Prepare(h);
  }
  device.Write(ring.waveHeaders[0]);
  state.lastHeader = 0;
  return opened;
}

void QueueNextBlock(AudioRing& ring, SharedState& state) {
  if (state.soundMode == 0 || ring.closed || ring.waveDevice == nullptr) return;
  const int32_t queued = state.blocksQueued.FetchAdd(1) + 1;
  const int32_t next = queued & kRingBlockMask;
  if (ring.deviceAway) {
    state.lastHeader = next;
    return;
  }
  ring.waveDevice->Unprepare(ring.waveHeaders[state.lastHeader]);
  ring.waveDevice->Prepare(ring.waveHeaders[next]);
  ring.waveDevice->Write(ring.waveHeaders[next]);
  state.lastHeader = next;
}

namespace {
// What a finished block does, whoever finished it.
void BlockPlayed(AudioRing& ring, SharedState& state) {
  state.playedMs = int64_t{state.blocksQueued.Load()} * 1000;
  state.tickCount = state.tickCount + 1;
  QueueNextBlock(ring, state);
}
}  // namespace

bool OnBlockDone(AudioRing& ring, SharedState& state, const void* header, int64_t nowMs) {
  const auto address = reinterpret_cast<uintptr_t>(header);
  if (address < reinterpret_cast<uintptr_t>(&ring.waveHeaders[0]) ||
      address > reinterpret_cast<uintptr_t>(&ring.waveHeaders[kRingBlocks - 1])) {
    return false;
  }
  if (nowMs >= 0) ring.lastBlockBackMs = nowMs;
  BlockPlayed(ring, state);
  return true;
}

void DeviceLost(AudioRing& ring, int64_t nowMs) {
  if (ring.closed || ring.deviceAway) return;
  ring.deviceAway = true;
  // A device that stopped handing blocks back some seconds before it was
  // found lost owes those seconds: the stand-in makes them up at once.
  ring.awaySinceMs =
      ring.lastBlockBackMs >= 0 && ring.lastBlockBackMs <= nowMs ? ring.lastBlockBackMs : nowMs;
  ring.blocksStoodIn = 0;
}

int32_t StandInTick(AudioRing& ring, SharedState& state, int64_t nowMs) {
  if (!ring.deviceAway || ring.closed) return 0;
  int32_t handed = 0;
  // A late or lost tick is made up at the next one: the count follows the
  // clock, not the ticks.
  while (ring.blocksStoodIn < (nowMs - ring.awaySinceMs) / 1000) {
    ++ring.blocksStoodIn;
    BlockPlayed(ring, state);
    ++handed;
  }
  return handed;
}

int32_t DeviceBack(AudioRing& ring, SharedState& state, int64_t nowMs) {
  if (!ring.deviceAway || ring.closed) return 0;
  int32_t handed = StandInTick(ring, state, nowMs);
  const int64_t intoBlock = nowMs - ring.awaySinceMs - ring.blocksStoodIn * 1000;
  if (intoBlock >= 500) {
    ++ring.blocksStoodIn;
    BlockPlayed(ring, state);
    ++handed;
  }
  ring.deviceAway = false;
  ring.lastBlockBackMs = nowMs;
  const int32_t queued = state.blocksQueued;
  for (const int32_t block : {queued - 1, queued}) {
    WaveHeader& header = ring.waveHeaders[block & kRingBlockMask];
    ring.waveDevice->Prepare(header);
    ring.waveDevice->Write(header);
  }
  state.lastHeader = queued & kRingBlockMask;
  return handed;
}

void CloseAudioRing(AudioRing& ring) {
  if (ring.closed || ring.waveDevice == nullptr) return;
  ring.closed = true;
  ring.waveDevice->Close();
  for (WaveHeader& h : ring.waveHeaders) ring.waveDevice->Unprepare(h);
  // The window's share of the bytes goes; the generator's keeps them alive.
  ring.storage.reset();
}

}  // namespace velmora
