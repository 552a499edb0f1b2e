// Thread service: start a worker and set its priority.
#pragma once

#include <cstddef>

namespace velmora {

enum class ThreadPriority { kNormal, kHighest };

class Threads {
 public:
  virtual ~Threads() = default;
  // Starts entry(arg) on a new thread with at least `stackBytes` of stack
  // (rounded up to the platform's minimum); returns its handle, or nullptr if
  // the thread cannot be made.
  virtual void* Start(void (*entry)(void*), void* arg, size_t stackBytes) = 0;
  // Best effort; called by the thread itself.
  virtual void SetPriority(void* handle, ThreadPriority priority) = 0;
};

}  // namespace velmora
