#include "tools/render/write_behind.h"

#include <algorithm>
#include <cstring>

namespace velmora::render {

WriteBehind::WriteBehind(WriteFunction write, size_t bufferBytes, int buffers)
    : write_(std::move(write)), bufferBytes_(bufferBytes) {
  for (int i = 1; i < buffers; ++i) {
    free_.emplace_back();
    free_.back().reserve(bufferBytes_);
  }
  current_.reserve(bufferBytes_);
  writer_ = std::thread([this] { Run(); });
}

WriteBehind::~WriteBehind() {
  Close(true);
}

bool WriteBehind::Put(const uint8_t* data, size_t count) {
  while (count > 0) {
    const size_t n = std::min(count, bufferBytes_ - current_.size());
    current_.insert(current_.end(), data, data + n);
    data += n;
    count -= n;
    if (current_.size() == bufferBytes_ && !QueueAndTakeFree(current_)) return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return !failed_;
}

// Queues a full buffer and takes a free one, waiting while there is none.
bool WriteBehind::QueueAndTakeFree(std::vector<uint8_t>& buffer) {
  std::unique_lock<std::mutex> lock(mutex_);
  full_.push_back(std::move(buffer));
  changed_.notify_all();
  if (free_.empty() && !failed_) ++waits_;
  changed_.wait(lock, [this] { return !free_.empty() || failed_; });
  if (failed_) return false;
  buffer = std::move(free_.back());
  free_.pop_back();
  buffer.clear();
  return true;
}

uint64_t WriteBehind::Waits() {
  std::lock_guard<std::mutex> lock(mutex_);
  return waits_;
}

void WriteBehind::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !full_.empty() || closing_; });
    if (full_.empty() || discard_) break;
    std::vector<uint8_t> buffer = std::move(full_.front());
    full_.pop_front();
    lock.unlock();
    const bool ok = write_(buffer.data(), buffer.size());
    lock.lock();
    buffer.clear();
    free_.push_back(std::move(buffer));
    if (!ok) {
      failed_ = true;
      full_.clear();
    }
    changed_.notify_all();
    if (failed_) break;
  }
}

bool WriteBehind::Close(bool discard) {
  if (closed_) return !failed_;
  closed_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!discard && !current_.empty() && !failed_) full_.push_back(std::move(current_));
    closing_ = true;
    discard_ = discard;
    changed_.notify_all();
  }
  writer_.join();
  return !failed_;
}

}  // namespace velmora::render
