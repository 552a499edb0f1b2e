#include "platform/posix/posix_threads.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <memory>

namespace velmora {
namespace {

struct StartArgs {
  void (*entry)(void*);
  void* arg;
};

void* Trampoline(void* raw) {
  std::unique_ptr<StartArgs> args(static_cast<StartArgs*>(raw));
  args->entry(args->arg);
  return nullptr;
}

}  // namespace

size_t PosixThreads::MinimumStack() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return size_t{8} << 20;
#else
  return size_t{256} << 10;
#endif
}

void* PosixThreads::Start(void (*entry)(void*), void* arg, size_t stackBytes) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return nullptr;
  size_t stack = stackBytes < MinimumStack() ? MinimumStack() : stackBytes;
  if (stack < static_cast<size_t>(PTHREAD_STACK_MIN)) stack = PTHREAD_STACK_MIN;
  pthread_attr_setstacksize(&attr, stack);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  auto* args = new StartArgs{entry, arg};
  pthread_t thread;
  const int error = pthread_create(&thread, &attr, &Trampoline, args);
  pthread_attr_destroy(&attr);
  if (error != 0) {
    delete args;
    return nullptr;
  }
  // The handle is an opaque token; a detached thread is never joined.
  return reinterpret_cast<void*>(static_cast<uintptr_t>(thread));
}

void PosixThreads::SetCurrentThreadPriority(ThreadPriority priority) {
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  setpriority(PRIO_PROCESS, tid, priority == ThreadPriority::kHighest ? -10 : 0);
}

}  // namespace velmora
