// Win32 threads: CreateThread with the asked stack size (the system rounds it
// up to its page size and grows the stack as needed within the program's
// reserve) and SetThreadPriority on the calling thread.
//
// Thread safety: any thread may call.
#pragma once

#include "platform/threads.h"

namespace velmora {

class Win32Threads final : public Threads {
 public:
  void* Start(void (*entry)(void*), void* arg, size_t stackBytes) override;
  void SetCurrentThreadPriority(ThreadPriority priority) override;
};

}  // namespace velmora
