// Relaxed<T>: a value shared between threads that is only ever read or written
// whole. Every load and store is a relaxed atomic: another thread sees the old
// value or the new one, never a mix, and no ordering is implied. `x = x + 1`
// is a load and a store; a counter that two threads change (the block count)
// uses FetchAdd and FetchAnd instead, so that neither change is lost.
#pragma once

#include <atomic>

namespace velmora {

template <typename T>
class Relaxed {
 public:
  constexpr Relaxed() noexcept : value_(T{}) {}
  constexpr Relaxed(T initial) noexcept : value_(initial) {}  // NOLINT(google-explicit-constructor)
  Relaxed(const Relaxed&) = delete;
  Relaxed& operator=(const Relaxed&) = delete;

  operator T() const noexcept { return value_.load(std::memory_order_relaxed); }  // NOLINT
  T Load() const noexcept { return value_.load(std::memory_order_relaxed); }
  Relaxed& operator=(T v) noexcept {
    value_.store(v, std::memory_order_relaxed);
    return *this;
  }
  // Atomic read-modify-writes; each returns the value before the change.
  T FetchAdd(T v) noexcept { return value_.fetch_add(v, std::memory_order_relaxed); }
  T FetchAnd(T v) noexcept { return value_.fetch_and(v, std::memory_order_relaxed); }

 private:
  static_assert(std::atomic<T>::is_always_lock_free);
  std::atomic<T> value_;
};

}  // namespace velmora
