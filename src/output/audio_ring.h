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
#include <string>

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
  // While no device plays, the stand-in hands the blocks back, one for each
  // second of the monotonic clock since the block the device was playing
  // began (the last block back, or the open).
  bool deviceAway = false;
  int64_t lastBlockBackMs = -1;  // monotonic; -1 none yet
  int64_t awaySinceMs = 0;
  int64_t blocksStoodIn = 0;  // handed back since then
};

// Opens the device with `target` for its notices, allocates the ring filled
// with 128, prepares the sixteen headers and writes block 0. Window thread.
// Returns whether the device opened (if not, `why` says why); the ring exists
// either way.
bool OpenAudioRing(AudioRing& ring, SharedState& state, WaveDevice& device,
                   WaveNoticeTarget& target, std::string& why);

// Hands the next block to the device (while it is away, only counts it).
// Window thread.
void QueueNextBlock(AudioRing& ring, SharedState& state);

// The finished-block notice: accepted when the header's address lies from
// header 0 to header 15, both included. Returns whether it was accepted (the
// caller then invalidates the window). `nowMs`, the monotonic clock, tells
// the stand-in where a loss found the device. Window thread.
bool OnBlockDone(AudioRing& ring, SharedState& state, const void* header, int64_t nowMs = -1);

// The device went away (or never opened) at `nowMs` of the monotonic clock:
// from here on StandInTick plays its part, from the time the block the device
// was playing began. Window thread.
void DeviceLost(AudioRing& ring, int64_t nowMs);

// While the device is away: hands back every block due by `nowMs`, each as a
// finished-block notice would (playedMs, tickCount, the next block queued).
// Returns how many it handed back (the caller invalidates the window).
// Window thread.
int32_t StandInTick(AudioRing& ring, SharedState& state, int64_t nowMs);

// The device plays again at `nowMs`: the blocks due are handed back, and the
// device is handed the block due now and the one after it, as a device that
// had never gone would hold them. A device can only start a block at its
// beginning: past the middle of the block due, that block is handed back too
// and the device starts with the next, so it plays within half a second of
// the clock. Returns how many blocks were handed back. Window thread.
int32_t DeviceBack(AudioRing& ring, SharedState& state, int64_t nowMs);

// Closes the device and unprepares the headers, once only: a second call (the
// device's own closed notice after the close path) does nothing. The bytes
// stay alive while the generator still holds the storage. Window thread.
void CloseAudioRing(AudioRing& ring);

}  // namespace velmora
