#include "platform/sim/threaded_sim.h"

namespace velmora {

int64_t FastClock::NowMs() const {
  const auto real = std::chrono::steady_clock::now() - start_;
  return std::chrono::duration_cast<std::chrono::microseconds>(real).count() * speed_ / 1000;
}

int32_t FastClock::NowSeconds() {
  return static_cast<int32_t>(startSeconds_ + NowMs() / 1000);
}

std::string FastClock::LocalHourMinute(int32_t seconds) {
  const int64_t day = ((static_cast<int64_t>(seconds) % 86400) + 86400) % 86400;
  return HourMinuteText(static_cast<int>(day / 3600), static_cast<int>(day / 60 % 60));
}

void FastClock::Sleep(int32_t milliseconds) {
  if (milliseconds <= 0) return;
  std::this_thread::sleep_for(std::chrono::microseconds(int64_t{milliseconds} * 1000 / speed_));
}

bool QueueHost::CreateMainWindow(const std::string&, int, int, Handler handler) {
  handler_ = std::move(handler);
  windowAlive_ = true;
  if (handler_({WindowEvent::kCreate}) == -1) windowAlive_ = false;
  return windowAlive_;
}

void QueueHost::Post(const WindowMessage& message) {
  std::lock_guard lock(mutex_);
  queue_.push_back({message, nullptr});
  ready_.notify_one();
}

void QueueHost::PostCall(std::function<void()> call) {
  std::lock_guard lock(mutex_);
  queue_.push_back({{WindowEvent::kPaint}, std::move(call)});
  ready_.notify_one();
}

int QueueHost::RunMessageLoop() {
  for (;;) {
    Item item;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return quit_ || !queue_.empty(); });
      if (quit_) break;
      item = std::move(queue_.front());
      queue_.pop_front();
    }
    if (item.call) {
      item.call();
      continue;
    }
    if (item.message.event == WindowEvent::kPaint) paints_.fetch_add(1);
    handler_(item.message);
    DefaultProcessing(item.message);
  }
  StopTimer(0);
  return quitCode_;
}

void QueueHost::StartTimer(uint32_t id, int periodMs) {
  StopTimer(id);
  timerOn_ = true;
  timer_ = std::thread([this, id, periodMs] {
    while (timerOn_.load()) {
      if (clock_) {
        clock_->Sleep(periodMs);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
      }
      if (timerOn_.load()) Post({WindowEvent::kTimer, id});
    }
  });
}

void QueueHost::StopTimer(uint32_t) {
  timerOn_ = false;
  if (timer_.joinable() && timer_.get_id() != std::this_thread::get_id()) timer_.join();
}

void QueueHost::ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon) {
  std::lock_guard lock(mutex_);
  boxes_.push_back(caption + ": " + text);
}

std::vector<std::string> QueueHost::Boxes() {
  std::lock_guard lock(mutex_);
  return boxes_;
}

void QueueHost::PostQuit(int code) {
  std::lock_guard lock(mutex_);
  if (!quit_) quitCode_ = code;
  quit_ = true;
  ready_.notify_one();
}

void QueueHost::DefaultProcessing(const WindowMessage& message) {
  if (message.event == WindowEvent::kClose && windowAlive_) {
    windowAlive_ = false;
    handler_({WindowEvent::kDestroy});
  }
}

PacedWaveDevice::~PacedWaveDevice() {
  Close();
}

bool PacedWaveDevice::Open(const WaveFormat&, WaveNoticeTarget& target, std::string&) {
  target_ = &target;
  {
    std::lock_guard lock(mutex_);
    open_ = true;
  }
  player_ = std::thread([this] { Play(); });
  return true;
}

void PacedWaveDevice::Write(WaveHeader& header) {
  std::lock_guard lock(mutex_);
  if (!open_ || away_) return;
  queue_.push_back(&header);
  changed_.notify_one();
}

void PacedWaveDevice::Play() {
  std::vector<uint8_t> bytes;
  const auto blockTime = std::chrono::microseconds(1000 * 1000 / clock_.Speed());
  // Like a sound card, the device keeps its own steady time: a late wake-up
  // shortens the next block's wait instead of slowing the whole playback.
  // Only a block handed over after the device ran dry starts a new timeline.
  auto blockEnd = std::chrono::steady_clock::now();
  for (;;) {
    WaveHeader* block = nullptr;
    {
      std::unique_lock lock(mutex_);
      if (queue_.empty()) {
        changed_.wait(lock, [this] { return !open_ || !queue_.empty(); });
        blockEnd = std::chrono::steady_clock::now();
      }
      if (!open_) return;
      block = queue_.front();
    }
    // The block plays for a second of the fast clock; a close cuts it short,
    // and a loss drops it.
    blockEnd += blockTime;
    {
      std::unique_lock lock(mutex_);
      const bool cut = changed_.wait_until(lock, blockEnd, [this, block] {
        return !open_ || queue_.empty() || queue_.front() != block;
      });
      if (!open_) return;
      if (cut) continue;
      queue_.pop_front();
    }
    bytes.resize(static_cast<size_t>(block->bufferLength));
    for (int32_t i = 0; i < block->bufferLength; ++i) bytes[i] = BlockSample(block->data, i);
    if (tap) tap(bytes);
    played_.fetch_add(1);
    WaveNoticeTarget* target = target_;
    host_.PostCall([target, block] { target->OnWaveBlockDone(block); });
  }
}

void PacedWaveDevice::Lose(const std::string& reason) {
  {
    std::lock_guard lock(mutex_);
    if (!open_ || away_) return;
    away_ = true;
    queue_.clear();
    changed_.notify_all();
  }
  WaveNoticeTarget* target = target_;
  host_.PostCall([target, reason] { target->OnWaveLost(reason); });
}

void PacedWaveDevice::ComeBack() {
  {
    std::lock_guard lock(mutex_);
    if (!open_ || !away_) return;
    away_ = false;
  }
  WaveNoticeTarget* target = target_;
  host_.PostCall([target] { target->OnWaveBack(); });
}

void PacedWaveDevice::Close() {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    open_ = false;
    queue_.clear();
    changed_.notify_all();
  }
  // After Close returns the device reads no block.
  if (player_.joinable() && player_.get_id() != std::this_thread::get_id()) player_.join();
  WaveNoticeTarget* target = target_;
  host_.PostCall([target] { target->OnWaveClosed(); });
}

void* JoinableThreads::Start(void (*entry)(void*), void* arg, size_t) {
  std::lock_guard lock(mutex_);
  if (++started_ == failAt) return nullptr;
  threads_.emplace_back(entry, arg);
  return reinterpret_cast<void*>(static_cast<uintptr_t>(started_));
}

void JoinableThreads::JoinAll() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (std::thread& t : threads) t.join();
}

}  // namespace velmora
