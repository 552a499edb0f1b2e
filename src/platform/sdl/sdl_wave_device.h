// SDL2 wave device: plays the ring's blocks in place, in the order handed
// over, through an SDL2 audio device at 8-bit unsigned mono 32000 Hz. Links
// SDL2.
//
// The audio callback moves each finished block to a list and wakes the
// window thread with an SDL event; the window's loop then calls Service,
// which delivers the finished blocks and the close. A wake-up lost to a full
// event queue only delays them to the loop's next wake.
//
// A device that goes away (SDL_AUDIODEVICEREMOVED, or found stopped) is
// closed and said lost; from then on, and after an open that failed, Service
// opens the default device again with a fresh audio subsystem (a restarted
// sound server needs a new connection): at once on SDL_AUDIODEVICEADDED,
// otherwise after 10 ms, doubling up to a second between tries.
//
// Thread safety: everything on the window thread, but the audio callback,
// which runs on SDL's audio thread and shares only the queue of handed-over
// blocks and the finished list (under a mutex) and the ring's words (relaxed
// atomic loads).
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sdl/sdl_window_host.h"
#include "platform/wave_device.h"

namespace velmora {

class SdlWaveDevice final : public WaveDevice, public SdlAudioClient {
 public:
  SdlWaveDevice() = default;
  ~SdlWaveDevice() override;

  bool Open(const WaveFormat& format, WaveNoticeTarget& target, std::string& why) override;
  void Prepare(WaveHeader& header) override { header.prepared = true; }
  void Write(WaveHeader& header) override;
  void Unprepare(WaveHeader& header) override { header.prepared = false; }
  void Close() override;

  void OnAudioEvent(const SDL_Event& event) override;
  int Service() override;

  // The retry delays, in milliseconds: the first, and the longest.
  static constexpr int kFirstRetryMs = 10;
  static constexpr int kLongestRetryMs = 1000;

 private:
  static void Callback(void* self, Uint8* stream, int length);
  void Fill(Uint8* stream, int length);
  bool TryOpen(std::string& why);
  void GoAway(const std::string& reason);
  void DeliverFinished();
  void Wake();

  WaveFormat format_{};
  WaveNoticeTarget* target_ = nullptr;
  SDL_AudioDeviceID device_ = 0;
  bool audioReady_ = false;  // the audio subsystem is initialised
  bool wanted_ = false;      // opened by the ring and not closed since
  bool away_ = false;        // wanted, but no device plays
  Uint64 nextTryMs_ = 0;
  Uint32 lastTryTicks_ = 0;  // when the last try ended, in SDL's event time
  int retryMs_ = kFirstRetryMs;
  bool closedNotice_ = false;  // the close, still to be said

  std::mutex mutex_;
  std::deque<WaveHeader*> queue_;      // guarded by mutex_
  std::vector<WaveHeader*> finished_;  // guarded by mutex_
  std::atomic<bool> wakePending_{false};
  int32_t offset_ = 0;  // into the front block; audio thread only
};

}  // namespace velmora
