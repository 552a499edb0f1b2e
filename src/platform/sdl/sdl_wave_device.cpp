#include "platform/sdl/sdl_wave_device.h"

#include <algorithm>
#include <cstring>

#include "app/units.h"
#include "platform/sdl/quiet_stderr.h"

namespace velmora {

SdlWaveDevice::~SdlWaveDevice() {
  if (device_ != 0) SDL_CloseAudioDevice(device_);
}

bool SdlWaveDevice::Open(const WaveFormat& format, WaveNoticeTarget& target, std::string& why) {
  format_ = format;
  target_ = &target;
  wanted_ = true;
  if (TryOpen(why)) return true;
  away_ = true;
  retryMs_ = kFirstRetryMs;
  nextTryMs_ = SDL_GetTicks64() + static_cast<Uint64>(retryMs_);
  return false;
}

bool SdlWaveDevice::TryOpen(std::string& why) {
  // The libraries under SDL print their own complaints while they probe;
  // the user gets one line of ours instead.
  QuietStderr quiet;
  // A fresh subsystem each time: the driver's connection to a sound server
  // that went away is of no use when it comes back.
  if (audioReady_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  audioReady_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  lastTryTicks_ = SDL_GetTicks();
  if (!audioReady_) {
    why = SDL_GetError();
    return false;
  }
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(format_.samplesPerSec);
  want.format = AUDIO_U8;
  want.channels = static_cast<Uint8>(format_.channels);
  want.samples = 1024;
  want.callback = &SdlWaveDevice::Callback;
  want.userdata = this;
  // No changes allowed: SDL converts to whatever the hardware takes.
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  lastTryTicks_ = SDL_GetTicks();
  if (device_ == 0) {
    const char* driver = SDL_GetCurrentAudioDriver();
    why = std::string(driver ? driver : "SDL") + ": " + SDL_GetError();
    return false;
  }
  SDL_PauseAudioDevice(device_, 0);
  return true;
}

void SdlWaveDevice::Write(WaveHeader& header) {
  if (device_ == 0) return;
  std::lock_guard lock(mutex_);
  queue_.push_back(&header);
}

void SdlWaveDevice::Close() {
  wanted_ = false;
  away_ = false;
  if (device_ == 0) return;
  // After this returns the callback no longer runs: the ring is not read again.
  SDL_CloseAudioDevice(device_);
  device_ = 0;
  {
    std::lock_guard lock(mutex_);
    queue_.clear();
    finished_.clear();
  }
  closedNotice_ = true;
  Wake();
}

void SdlWaveDevice::GoAway(const std::string& reason) {
  SDL_CloseAudioDevice(device_);
  device_ = 0;
  // What did finish before the loss was played: it is said first.
  DeliverFinished();
  {
    std::lock_guard lock(mutex_);
    queue_.clear();
  }
  offset_ = 0;
  away_ = true;
  retryMs_ = kFirstRetryMs;
  nextTryMs_ = SDL_GetTicks64() + static_cast<Uint64>(retryMs_);
  target_->OnWaveLost(reason);
}

void SdlWaveDevice::OnAudioEvent(const SDL_Event& event) {
  if (!wanted_ || event.adevice.iscapture != 0) return;
  if (event.type == SDL_AUDIODEVICEREMOVED && device_ != 0 && event.adevice.which == device_ &&
      SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED) {
    const char* driver = SDL_GetCurrentAudioDriver();
    GoAway(std::string(driver ? driver : "SDL") + ": the device was removed");
  } else if (event.type == SDL_AUDIODEVICEADDED && away_ &&
             !SDL_TICKS_PASSED(lastTryTicks_, event.adevice.timestamp)) {
    // A device that turned up since the last try (a try's own start-up lists
    // the devices there were, as added, too).
    retryMs_ = kFirstRetryMs;
    nextTryMs_ = SDL_GetTicks64();
  }
}

int SdlWaveDevice::Service() {
  wakePending_.store(false);
  DeliverFinished();
  if (closedNotice_) {
    closedNotice_ = false;
    target_->OnWaveClosed();
    return -1;
  }
  if (!wanted_) return -1;
  // A loss whose event never came (a full queue): SDL has stopped the device.
  if (device_ != 0 && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED) {
    const char* driver = SDL_GetCurrentAudioDriver();
    GoAway(std::string(driver ? driver : "SDL") + ": the device stopped");
  }
  if (!away_) return -1;
  const Uint64 now = SDL_GetTicks64();
  if (now >= nextTryMs_) {
    std::string why;
    if (TryOpen(why)) {
      away_ = false;
      target_->OnWaveBack();
      return -1;
    }
    retryMs_ = std::min(retryMs_ * 2, kLongestRetryMs);
    nextTryMs_ = SDL_GetTicks64() + static_cast<Uint64>(retryMs_);
  }
  return static_cast<int>(nextTryMs_ - std::min(nextTryMs_, SDL_GetTicks64()));
}

void SdlWaveDevice::DeliverFinished() {
  std::vector<WaveHeader*> finished;
  {
    std::lock_guard lock(mutex_);
    finished.swap(finished_);
  }
  for (WaveHeader* block : finished) target_->OnWaveBlockDone(block);
}

void SdlWaveDevice::Wake() {
  if (wakePending_.exchange(true)) return;
  SDL_Event event{};
  event.type = SdlWindowHost::WaveEventType();
  // Not queued (a full queue): the loop's next wake delivers instead.
  if (SDL_PushEvent(&event) != 1) wakePending_.store(false);
}

void SdlWaveDevice::Callback(void* self, Uint8* stream, int length) {
  static_cast<SdlWaveDevice*>(self)->Fill(stream, length);
}

void SdlWaveDevice::Fill(Uint8* stream, int length) {
  int done = 0;
  while (done < length) {
    WaveHeader* block = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (!queue_.empty()) block = queue_.front();
    }
    if (!block) {
      // Nothing handed over: the zero level until a block comes.
      std::memset(stream + done, kSilence, static_cast<size_t>(length - done));
      return;
    }
    const int count = std::min(length - done, block->bufferLength - offset_);
    for (int i = 0; i < count; ++i) stream[done + i] = BlockSample(block->data, offset_ + i);
    done += count;
    offset_ += count;
    if (offset_ == block->bufferLength) {
      offset_ = 0;
      {
        std::lock_guard lock(mutex_);
        queue_.pop_front();
        finished_.push_back(block);
      }
      Wake();
    }
  }
}

}  // namespace velmora
