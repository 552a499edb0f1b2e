// Wave device service: plays blocks of the audio ring in place, in the order
// they are handed over, and reports each finished block and the device's close
// to a notice target on the window thread. A device may go away (a sound
// server that restarts, a card that is unplugged) and come back: it says so
// with the lost and back notices and reopens by itself in between.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace velmora {

// 8-bit unsigned mono PCM as the device is opened.
struct WaveFormat {
  uint16_t formatTag = 1;  // PCM
  uint16_t channels = 1;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 1;
  uint16_t bitsPerSample = 8;
  uint16_t extraSize = 0;
};

// One block of the ring. The samples are read as 64-bit words with relaxed
// loads (the generator writes them the same way); sample i of the block is
// byte i % 8 of word i / 8, in little-endian order.
struct WaveHeader {
  std::atomic<uint64_t>* data = nullptr;
  int32_t bufferLength = 0;  // bytes
  bool prepared = false;     // kept by the device
};

// Receives the device's notices. Window thread only.
class WaveNoticeTarget {
 public:
  virtual ~WaveNoticeTarget() = default;
  virtual void OnWaveBlockDone(WaveHeader* header) = 0;
  virtual void OnWaveClosed() = 0;
  // The device stopped playing (`reason` says why, in a few words): the
  // blocks it held will not come back. It tries to reopen from now on.
  virtual void OnWaveLost(const std::string& reason) = 0;
  // The device plays again, after a loss or an open that failed; it holds no
  // block until it is handed some.
  virtual void OnWaveBack() = 0;
};

// Window thread only. The ring logic does not depend on any result: while no
// device plays, the blocks are handed back by the window's stand-in tick.
class WaveDevice {
 public:
  virtual ~WaveDevice() = default;
  // Returns whether the device opened; if not, `why` says why and the device
  // tries again by itself until it opens (then OnWaveBack) or is closed.
  virtual bool Open(const WaveFormat& format, WaveNoticeTarget& target, std::string& why) = 0;
  virtual void Prepare(WaveHeader& header) = 0;
  virtual void Write(WaveHeader& header) = 0;
  virtual void Unprepare(WaveHeader& header) = 0;
  // After Close returns the device no longer reads any block, and no longer
  // tries to reopen.
  virtual void Close() = 0;
};

// The sample at `index` of a block of words.
inline uint8_t BlockSample(const std::atomic<uint64_t>* words, int64_t index) {
  const uint64_t word = words[index >> 3].load(std::memory_order_relaxed);
  return static_cast<uint8_t>(word >> ((index & 7) * 8));
}

// Copies samples [first, first + count) of a block of words to `out`, a word
// at a time where whole words lie inside the range.
inline void CopyBlockSamples(const std::atomic<uint64_t>* words, int64_t first, int64_t count,
                             uint8_t* out) {
  int64_t i = first;
  const int64_t end = first + count;
  for (; i < end && (i & 7) != 0; ++i) *out++ = BlockSample(words, i);
  for (; i + 8 <= end; i += 8, out += 8) {
    const uint64_t word = words[i >> 3].load(std::memory_order_relaxed);
    for (int k = 0; k < 8; ++k) out[k] = static_cast<uint8_t>(word >> (8 * k));
  }
  for (; i < end; ++i) *out++ = BlockSample(words, i);
}

}  // namespace velmora
