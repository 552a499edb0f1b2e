// SDL2 wave device: plays the ring's blocks in place, in the order handed
// over, through an SDL2 audio device at 8-bit unsigned mono 32000 Hz. Links
// SDL2.
//
// The audio callback moves each finished block to a list and wakes the
// window thread with an SDL event; the window's loop then calls Service,
// which delivers the finished blocks and the close. A wake-up lost to a full
// event queue only delays them to the loop's next wake.
//
// A device that goes away (SDL_AUDIODEVICEREMOVED, found stopped, or one
// that hands no block back for 3 s while it holds some: a frozen sound
// server) is said lost at once; from then on, and after an open that
// failed, the default device is opened again with a fresh audio subsystem
// (a restarted sound server needs a new connection) and the driver that
// played before (never another one while the server is away): at once on
// SDL_AUDIODEVICEADDED, otherwise after 10 ms, doubling up to a second
// between tries. The delay starts again from 10 ms only once a device has
// played for 10 s, so a device that flaps is tried once a second.
//
// Every call that may wait on the sound server (close, subsystem start,
// open) runs on an opener thread of the device's own, never on the window
// thread: a frozen server takes a connection and answers nothing. The window
// thread waits for the first open and for the last close, each a bounded
// time.
//
// Thread safety: everything on the window thread, but the audio callback,
// which runs on SDL's audio thread and shares only the queue of handed-over
// blocks and the finished list (under a mutex) and the ring's words (relaxed
// atomic loads), and the opener, which shares its job and its answer (under
// a mutex of their own) and makes the SDL audio calls while the window
// thread makes none.
#pragma once

#include <SDL.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/reopen_backoff.h"
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

  // A device that holds blocks and hands none back for this long is lost.
  static constexpr Uint64 kSilentDeviceMs = 3000;
  // A longer gap between two calls of Service is a stop of the process.
  static constexpr Uint64 kServiceGapMs = 1000;
  // How long the window thread waits for the first open, and for the close.
  static constexpr int kOpenWaitMs = 2000;
  static constexpr int kCloseWaitMs = 500;

 private:
  // The device's one state, on the window thread.
  enum class State {
    kIdle,     // not opened yet
    kPlaying,  // a device plays the blocks handed over
    kLetGo,    // lost: the opener closes what is left of it
    kAway,     // lost or never opened: the next try is due at nextTryMs_
    kTrying,   // the opener tries to open a device
    kClosing,  // closed by the ring: the closed notice is still to be said
    kClosed,
  };
  // What the opener is asked to do, and what it answers.
  enum class Job { kNone, kOpen, kClose };
  struct Answer {
    bool ready = false;
    Job job = Job::kNone;
    SDL_AudioDeviceID device = 0;  // opened; 0 none
    std::string driver;            // the driver that plays it
    std::string why;               // why not
    Uint32 endedTicks = 0;         // when the try ended, in SDL's event time
  };

  static void Callback(void* self, Uint8* stream, int length);
  void Fill(Uint8* stream, int length);
  void OpenerLoop();
  Answer OpenDevice();  // opener thread
  void Ask(Job job, SDL_AudioDeviceID device);
  bool AwaitAnswer(int milliseconds);
  void TakeAnswer();
  void Playing(const Answer& answer);
  void GoAway(const std::string& reason);
  void DeliverFinished();
  std::string Driver(const std::string& what) const;
  void Wake();

  WaveFormat format_{};
  WaveNoticeTarget* target_ = nullptr;
  State state_ = State::kIdle;
  SDL_AudioDeviceID device_ = 0;
  Uint64 nextTryMs_ = 0;
  Uint32 lastTryTicks_ = 0;  // when the last try ended, in SDL's event time
  ReopenBackoff backoff_;
  Uint64 playingSinceMs_ = 0;
  Uint64 lastBlockBackMs_ = 0;  // or since the device held a block
  Uint64 lastServiceMs_ = 0;
  std::string driver_;  // the driver that played; the window thread's copy

  // The opener's job and answer, guarded by openerMutex_.
  std::mutex openerMutex_;
  std::condition_variable openerWake_;
  Job job_ = Job::kNone;
  SDL_AudioDeviceID jobDevice_ = 0;
  Answer answer_;
  bool openerStop_ = false;
  std::thread opener_;
  // The opener's own.
  bool audioReady_ = false;   // the audio subsystem is initialised
  std::string openerDriver_;  // the driver that played; empty before the first

  std::mutex mutex_;
  std::deque<WaveHeader*> queue_;      // guarded by mutex_
  std::vector<WaveHeader*> finished_;  // guarded by mutex_
  bool reading_ = false;               // guarded by mutex_: the callback may take blocks
  std::atomic<bool> wakePending_{false};
  int32_t offset_ = 0;  // into the front block; audio thread only (the opener between devices)
};

}  // namespace velmora
