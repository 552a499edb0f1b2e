#include "platform/win32/win32_threads.h"

#include "platform/win32/windows_api.h"

namespace velmora {
namespace {

struct StartRecord {
  void (*entry)(void*);
  void* arg;
};

DWORD WINAPI ThreadStart(LPVOID record) {
  const StartRecord start = *static_cast<StartRecord*>(record);
  delete static_cast<StartRecord*>(record);
  start.entry(start.arg);
  return 0;
}

}  // namespace

void* Win32Threads::Start(void (*entry)(void*), void* arg, size_t stackBytes) {
  auto* record = new StartRecord{entry, arg};
  const HANDLE thread = CreateThread(nullptr, stackBytes, &ThreadStart, record, 0, nullptr);
  if (thread == nullptr) delete record;
  return thread;
}

void Win32Threads::SetCurrentThreadPriority(ThreadPriority priority) {
  // GetCurrentThread is the calling thread whatever its stored handle.
  SetThreadPriority(GetCurrentThread(), priority == ThreadPriority::kHighest
                                            ? THREAD_PRIORITY_HIGHEST
                                            : THREAD_PRIORITY_NORMAL);
}

}  // namespace velmora
