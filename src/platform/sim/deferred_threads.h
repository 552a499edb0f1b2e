// DeferredThreads: a thread service for a run on one thread. Start keeps the
// entry and answers with a handle; RunStarted then runs the kept entries, in
// the order they were started, on the caller's thread.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/threads.h"

namespace velmora {

class DeferredThreads final : public Threads {
 public:
  void* Start(void (*entry)(void*), void* arg, size_t /*stackBytes*/) override {
    started_.emplace_back(entry, arg);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(started_.size()));
  }
  void SetCurrentThreadPriority(ThreadPriority) override {}

  void RunStarted() {
    const auto started = std::exchange(started_, {});
    for (const auto& [entry, arg] : started) entry(arg);
  }

 private:
  std::vector<std::pair<void (*)(void*), void*>> started_;
};

}  // namespace velmora
