// WriteBehind: hands the generator's samples to a writer thread in large
// buffers, so that making the night and writing it overlap on two cores, and
// each write is large. Memory stays flat: a few buffers, reused; the producer
// waits when all of them are full.
//
// Thread safety: Put and Close from one producer thread; the write function
// runs on the writer thread only, and Close waits for it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::render {

class WriteBehind {
 public:
  // Writes all of a buffer or returns false; called in order.
  using WriteFunction = std::function<bool(const uint8_t* data, size_t count)>;

  static constexpr size_t kBufferBytes = size_t{1} << 20;
  static constexpr int kBuffers = 4;

  explicit WriteBehind(WriteFunction write, size_t bufferBytes = kBufferBytes,
                       int buffers = kBuffers);
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Copies the samples in; false once a write has failed (nothing after the
  // failed write is written).
  bool Put(const uint8_t* data, size_t count);
  // Writes what is left (unless `discard`), ends the writer thread and
  // returns whether every write succeeded. Only the first call does anything.
  bool Close(bool discard = false);
  // How many times the producer has waited for a free buffer. Any thread.
  uint64_t Waits();

 private:
  void Run();
  bool QueueAndTakeFree(std::vector<uint8_t>& buffer);

  WriteFunction write_;
  size_t bufferBytes_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> full_;  // to write, in order
  std::vector<std::vector<uint8_t>> free_;
  std::vector<uint8_t> current_;  // being filled by the producer
  bool closing_ = false;
  bool discard_ = false;
  bool failed_ = false;
  bool closed_ = false;
  uint64_t waits_ = 0;
  std::thread writer_;
};

}  // namespace velmora::render
