// SDL2 wave device: plays the ring's blocks in place, in the order handed
// over, through an SDL2 audio device at 8-bit unsigned mono 32000 Hz, and
// posts each finished block and the close to the window thread as SDL events
// (SdlWindowHost::WaveEventType). Links SDL2.
//
// Thread safety: Open, Prepare, Write, Unprepare and Close on the window
// thread; the audio callback runs on SDL's audio thread and shares only the
// queue of handed-over blocks (under a mutex) and the ring's words (relaxed
// atomic loads).
#pragma once

#include <SDL.h>

#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/wave_device.h"

namespace velmora {

class SdlWaveDevice final : public WaveDevice {
 public:
  SdlWaveDevice() = default;
  ~SdlWaveDevice() override;

  bool Open(const WaveFormat& format, WaveNoticeTarget& target) override;
  void Prepare(WaveHeader& header) override { header.prepared = true; }
  void Write(WaveHeader& header) override;
  void Unprepare(WaveHeader& header) override { header.prepared = false; }
  void Close() override;

 private:
  static void Callback(void* self, Uint8* stream, int length);
  void Fill(Uint8* stream, int length);
  void Post(int code, WaveHeader* header);

  SDL_AudioDeviceID device_ = 0;
  WaveNoticeTarget* target_ = nullptr;
  std::mutex mutex_;
  std::deque<WaveHeader*> queue_;  // guarded by mutex_
  int32_t offset_ = 0;             // into the front block; audio thread only
};

}  // namespace velmora
