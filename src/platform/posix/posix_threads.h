// Threads over POSIX threads: detached workers with the asked-for stack
// rounded up to a working minimum, and priority by the thread's nice value
// (best effort: raising it needs a privilege most users lack).
#pragma once

#include "platform/threads.h"

namespace velmora {

class PosixThreads final : public Threads {
 public:
  void* Start(void (*entry)(void*), void* arg, size_t stackBytes) override;
  void SetCurrentThreadPriority(ThreadPriority priority) override;

  // The smallest stack a worker gets: the C library's own calls (local time,
  // formatted numbers) need more than the 4096 bytes asked for; sanitizers
  // need far more.
  static size_t MinimumStack();
};

}  // namespace velmora
