#include "platform/sdl/sdl_wave_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "app/units.h"
#include "platform/sdl/quiet_stderr.h"

namespace velmora {

SdlWaveDevice::~SdlWaveDevice() {
  {
    std::lock_guard lock(openerMutex_);
    openerStop_ = true;
  }
  openerWake_.notify_one();
  // The process normally ends without this; an opener held by a frozen
  // server is not waited for.
  if (opener_.joinable()) opener_.detach();
}

bool SdlWaveDevice::Open(const WaveFormat& format, WaveNoticeTarget& target, std::string& why) {
  format_ = format;
  target_ = &target;
  if (!opener_.joinable()) opener_ = std::thread([this] { OpenerLoop(); });
  state_ = State::kTrying;
  Ask(Job::kOpen, 0);
  if (!AwaitAnswer(kOpenWaitMs)) {
    // The answer comes later: played from then on, said as a return.
    why = "the sound server does not answer";
    return false;
  }
  Answer answer;
  {
    std::lock_guard lock(openerMutex_);
    answer = std::move(answer_);
    answer_ = {};
  }
  if (answer.device != 0) {
    Playing(answer);
    return true;
  }
  why = answer.why;
  lastTryTicks_ = answer.endedTicks;
  state_ = State::kAway;
  nextTryMs_ = SDL_GetTicks64() + static_cast<Uint64>(backoff_.DelayMs());
  return false;
}

void SdlWaveDevice::Ask(Job job, SDL_AudioDeviceID device) {
  {
    std::lock_guard lock(openerMutex_);
    job_ = job;
    jobDevice_ = device;
    answer_ = {};
  }
  openerWake_.notify_one();
}

bool SdlWaveDevice::AwaitAnswer(int milliseconds) {
  std::unique_lock lock(openerMutex_);
  return openerWake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return answer_.ready; });
}

void SdlWaveDevice::OpenerLoop() {
  std::unique_lock lock(openerMutex_);
  for (;;) {
    openerWake_.wait(lock, [this] { return openerStop_ || job_ != Job::kNone; });
    if (openerStop_) return;
    const Job job = job_;
    const SDL_AudioDeviceID device = jobDevice_;
    job_ = Job::kNone;
    lock.unlock();
    // A device's audio thread has ended when its close returns: the next
    // device's callback starts at the beginning of a block.
    if (device != 0) SDL_CloseAudioDevice(device);
    offset_ = 0;
    Answer answer = job == Job::kOpen ? OpenDevice() : Answer{};
    answer.job = job;
    answer.endedTicks = SDL_GetTicks();
    answer.ready = true;
    lock.lock();
    answer_ = std::move(answer);
    // The window thread may be waiting for it, or asleep in its loop.
    openerWake_.notify_all();
    lock.unlock();
    Wake();
    lock.lock();
  }
}

SdlWaveDevice::Answer SdlWaveDevice::OpenDevice() {
  Answer answer;
  {
    // The libraries under SDL print their own complaints while they probe;
    // the user gets one line of ours instead. Once a driver has played only
    // it is tried, and nothing is probed.
    std::optional<QuietStderr> quiet;
    if (openerDriver_.empty()) quiet.emplace();
    // A fresh subsystem each time: the driver's connection to a sound
    // server that went away is of no use when it comes back.
    if (audioReady_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    if (!openerDriver_.empty()) {
      // Never another driver while the server is away: another (ALSA) may
      // take the card itself and keep it from the server once it is back.
      SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, openerDriver_.c_str(), SDL_HINT_OVERRIDE);
    }
    audioReady_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    if (!audioReady_) {
      answer.why = SDL_GetError();
      return answer;
    }
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(format_.samplesPerSec);
    want.format = AUDIO_U8;
    want.channels = static_cast<Uint8>(format_.channels);
    want.samples = 1024;
    want.callback = &SdlWaveDevice::Callback;
    want.userdata = this;
    // No changes allowed: SDL converts to whatever the hardware takes.
    answer.device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  }
  const char* driver = SDL_GetCurrentAudioDriver();
  if (answer.device == 0) {
    answer.why = std::string(driver ? driver : "SDL") + ": " + SDL_GetError();
    return answer;
  }
  if (driver != nullptr) openerDriver_ = driver;
  answer.driver = openerDriver_;
  {
    std::lock_guard lock(mutex_);
    reading_ = true;
  }
  SDL_PauseAudioDevice(answer.device, 0);
  return answer;
}

void SdlWaveDevice::Playing(const Answer& answer) {
  device_ = answer.device;
  driver_ = answer.driver;
  state_ = State::kPlaying;
  playingSinceMs_ = lastBlockBackMs_ = SDL_GetTicks64();
}

std::string SdlWaveDevice::Driver(const std::string& what) const {
  return (driver_.empty() ? std::string("SDL") : driver_) + ": " + what;
}

void SdlWaveDevice::Write(WaveHeader& header) {
  if (state_ != State::kPlaying) return;
  std::lock_guard lock(mutex_);
  // The device's silence is timed from when it holds a block.
  if (queue_.empty()) lastBlockBackMs_ = SDL_GetTicks64();
  queue_.push_back(&header);
}

void SdlWaveDevice::Close() {
  const State was = state_;
  state_ = State::kClosed;
  if (was == State::kIdle || was == State::kClosed || was == State::kClosing) return;
  {
    // The callback takes no block from here on, whatever the close does.
    std::lock_guard lock(mutex_);
    reading_ = false;
    queue_.clear();
    finished_.clear();
  }
  if (was == State::kPlaying) {
    // The device's end, with a bound: a frozen server may hold it.
    Ask(Job::kClose, device_);
    AwaitAnswer(kCloseWaitMs);
    device_ = 0;
    state_ = State::kClosing;
    Wake();
  }
}

void SdlWaveDevice::GoAway(const std::string& reason) {
  // What did finish before the loss was played: it is said first.
  DeliverFinished();
  {
    std::lock_guard lock(mutex_);
    reading_ = false;
    queue_.clear();
    finished_.clear();
  }
  backoff_.Lost(static_cast<int64_t>(SDL_GetTicks64() - playingSinceMs_));
  state_ = State::kLetGo;
  Ask(Job::kClose, device_);
  device_ = 0;
  target_->OnWaveLost(reason);
}

void SdlWaveDevice::OnAudioEvent(const SDL_Event& event) {
  if (event.adevice.iscapture != 0) return;
  if (event.type == SDL_AUDIODEVICEREMOVED && state_ == State::kPlaying &&
      event.adevice.which == device_ && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED) {
    GoAway(Driver("the device was removed"));
  } else if (event.type == SDL_AUDIODEVICEADDED && state_ == State::kAway &&
             !SDL_TICKS_PASSED(lastTryTicks_, event.adevice.timestamp)) {
    // A device that turned up since the last try (a try's own start-up lists
    // the devices there were, as added, too): tried at once.
    nextTryMs_ = SDL_GetTicks64();
  }
}

void SdlWaveDevice::TakeAnswer() {
  Answer answer;
  {
    std::lock_guard lock(openerMutex_);
    if (!answer_.ready) return;
    answer = std::move(answer_);
    answer_ = {};
  }
  const Uint64 now = SDL_GetTicks64();
  if (state_ == State::kLetGo) {
    // What was left of the lost device is closed: the tries begin.
    state_ = State::kAway;
    nextTryMs_ = now + static_cast<Uint64>(backoff_.DelayMs());
  } else if (state_ == State::kTrying && answer.job == Job::kOpen) {
    lastTryTicks_ = answer.endedTicks;
    if (answer.device != 0) {
      Playing(answer);
      target_->OnWaveBack();
    } else {
      state_ = State::kAway;
      backoff_.Failed();
      nextTryMs_ = now + static_cast<Uint64>(backoff_.DelayMs());
    }
  } else if (answer.device != 0) {
    // Opened after the ring closed: let go at once.
    Ask(Job::kClose, answer.device);
  }
}

int SdlWaveDevice::Service() {
  wakePending_.store(false);
  // The loop comes at least twice a second; a longer gap is a process (or a
  // computer) that was stopped, with the device's thread: its silence is
  // timed again from now.
  const Uint64 now = SDL_GetTicks64();
  if (now - lastServiceMs_ > kServiceGapMs) lastBlockBackMs_ = std::max(lastBlockBackMs_, now);
  lastServiceMs_ = now;
  DeliverFinished();
  TakeAnswer();
  switch (state_) {
    case State::kClosing:
      state_ = State::kClosed;
      target_->OnWaveClosed();
      return -1;
    case State::kPlaying: {
      if (SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED) {
        // A loss whose event never came (a full queue): SDL has stopped it.
        GoAway(Driver("the device stopped"));
        return -1;
      }
      bool holds = false;
      {
        std::lock_guard lock(mutex_);
        holds = !queue_.empty();
      }
      if (!holds) return -1;
      const Uint64 silent = now - std::min(now, lastBlockBackMs_);
      if (silent >= kSilentDeviceMs) {
        GoAway(Driver("no block came back for 3 s"));
        return -1;
      }
      return static_cast<int>(kSilentDeviceMs - silent);
    }
    case State::kAway: {
      if (now < nextTryMs_) return static_cast<int>(nextTryMs_ - now);
      state_ = State::kTrying;
      Ask(Job::kOpen, 0);
      return -1;
    }
    default:
      return -1;  // the opener's answer wakes the loop
  }
}

void SdlWaveDevice::DeliverFinished() {
  std::vector<WaveHeader*> finished;
  {
    std::lock_guard lock(mutex_);
    finished.swap(finished_);
  }
  if (!finished.empty()) lastBlockBackMs_ = SDL_GetTicks64();
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
      if (reading_ && !queue_.empty()) block = queue_.front();
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
      bool finished = false;
      {
        std::lock_guard lock(mutex_);
        // A block of a device let go meanwhile is not said to be done.
        if (reading_ && !queue_.empty() && queue_.front() == block) {
          queue_.pop_front();
          finished_.push_back(block);
          finished = true;
        }
      }
      if (finished) Wake();
    }
  }
}

}  // namespace velmora
