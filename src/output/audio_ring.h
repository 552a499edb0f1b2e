// The audio ring: sixteen one-second blocks of 8-bit samples played in place by
// the wave device, one block header per block, never re-pointed.
//
// The generator writes samples into the ring while the device plays other
// blocks of it. Every access to the bytes is a relaxed atomic on a 64-bit word;
// the generator is the only writer, so it changes a sample by loading its
// word, changing the byte and storing the word back.
//
// Invariant (kept by the generator's pacing wait, WaitForPlayback): the writer
// starts no write more than kLeadMs plus one gap piece or pulse ahead of
// playedMs, and never writes into the blocks the device holds but for the
// block being played at a phase start, where it restarts at that block's
// first sample.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "app/shared_state.h"
#include "platform/wave_device.h"

namespace velmora {

// The ring's bytes, shared by the window thread (device, headers) and the
// generator; kept alive by whichever lets go last.
struct RingStorage {
  explicit RingStorage(int32_t bytes);
  int32_t ringBytes;
  std::unique_ptr<std::atomic<uint64_t>[]> words;

  uint8_t Sample(int64_t offset) const { return BlockSample(words.get(), offset); }
  void StoreSample(int64_t offset, uint8_t value);
  // Sets bytes [start, start + count) to `value`; the range lies inside the ring.
  void Fill(int64_t start, int64_t count, uint8_t value);
  // Copies `count` samples to bytes [start, start + count), inside the ring.
  void Store(int64_t start, const uint8_t* samples, int64_t count);
};

struct AudioRing {
  WaveFormat waveFormat{};
  WaveDevice* waveDevice = nullptr;
  std::shared_ptr<RingStorage> storage;
  std::array<WaveHeader, kRingBlocks> waveHeaders{};
  bool closed = false;
};

// Opens the device with `target` for its notices, allocates the ring filled
// with 128, prepares the sixteen headers and writes block 0. Window thread.
// Returns whether the device opened; the ring exists either way.
bool OpenAudioRing(AudioRing& ring, SharedState& state, WaveDevice& device,
                   WaveNoticeTarget& target);

// Hands the next block to the device. Window thread.
void QueueNextBlock(AudioRing& ring, SharedState& state);

// The finished-block notice: accepted when the header's address lies from
// header 0 to header 15, both included. Returns whether it was accepted (the
// caller then invalidates the window). Window thread.
bool OnBlockDone(AudioRing& ring, SharedState& state, const void* header);

// Closes the device and unprepares the headers, once only: a second call (the
// device's own closed notice after the close path) does nothing. The bytes
// stay alive while the generator still holds the storage. Window thread.
void CloseAudioRing(AudioRing& ring);

}  // namespace velmora
