#include "platform/sdl/sdl_wave_device.h"

#include <cstdio>
#include <cstring>

#include "app/units.h"
#include "platform/sdl/quiet_stderr.h"
#include "platform/sdl/sdl_window_host.h"

namespace velmora {

SdlWaveDevice::~SdlWaveDevice() {
  if (device_ != 0) SDL_CloseAudioDevice(device_);
}

bool SdlWaveDevice::Open(const WaveFormat& format, WaveNoticeTarget& target) {
  target_ = &target;
  int initialised;
  {
    QuietStderr quiet;
    initialised = SDL_InitSubSystem(SDL_INIT_AUDIO);
  }
  if (initialised != 0) {
    std::fprintf(stderr,
                 "velmora: no sound (%s); the window runs silent. velmora-render writes a night "
                 "to a file without a sound device\n",
                 SDL_GetError());
    return false;
  }
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(format.samplesPerSec);
  want.format = AUDIO_U8;
  want.channels = static_cast<Uint8>(format.channels);
  want.samples = 1024;
  want.callback = &SdlWaveDevice::Callback;
  want.userdata = this;
  // No changes allowed: SDL converts to whatever the hardware takes.
  {
    QuietStderr quiet;
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  }
  if (device_ == 0) {
    std::fprintf(stderr,
                 "velmora: no sound device (%s); the window runs silent. velmora-render writes "
                 "a night to a file without one\n",
                 SDL_GetError());
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
  if (device_ == 0) return;
  // After this returns the callback no longer runs: the ring is not read again.
  SDL_CloseAudioDevice(device_);
  device_ = 0;
  {
    std::lock_guard lock(mutex_);
    queue_.clear();
  }
  Post(1, nullptr);
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
      }
      Post(0, block);
    }
  }
}

void SdlWaveDevice::Post(int code, WaveHeader* header) {
  SDL_Event event{};
  event.type = SdlWindowHost::WaveEventType();
  event.user.code = code;
  event.user.data1 = header;
  event.user.data2 = target_;
  SDL_PushEvent(&event);
}

}  // namespace velmora
