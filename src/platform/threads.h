// Thread service: start a worker and set the calling thread's priority.
//
// Thread safety: any thread may call.
#pragma once

#include <cstddef>

namespace velmora {

enum class ThreadPriority { kNormal, kHighest };

class Threads {
 public:
  virtual ~Threads() = default;
  // Starts entry(arg) on a new thread with at least `stackBytes` of stack
  // (rounded up to the platform's minimum); returns its handle, or nullptr if
  // the thread cannot be made. The thread is never joined.
  virtual void* Start(void (*entry)(void*), void* arg, size_t stackBytes) = 0;
  // Best effort: a priority the process may not take is left as it is.
  virtual void SetCurrentThreadPriority(ThreadPriority priority) = 0;
};

}  // namespace velmora
