#ifndef MORV_OS_CLEANUPREGISTRY_H
#define MORV_OS_CLEANUPREGISTRY_H

#include <array>
#include <atomic>
#include <cstddef>
#include <string_view>

// The table of paths that the clean-up handlers remove (TemporaryCleanup.h),
// the same on every system but for the kind of character a system's paths
// are made of. Private to the platform layer.
namespace morv::os {

// A handler may run at any moment, on POSIX systems in the middle of any
// call, on Windows on a thread of its own: a slot's path is complete before
// the slot is armed, and the handler reads nothing but armed slots.
template <class Char, std::size_t kLongest>
class TCleanupRegistry {
 public:
  static_assert(std::atomic<bool>::is_always_lock_free, "read from a signal handler");

  // The slot `path` now has, or -1 when no slot is free or the path is too
  // long for one.
  int Add(std::basic_string_view<Char> path) noexcept {
    if (path.size() >= kLongest) return -1;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      Slot& slot = slots_[i];
      bool expected = false;
      if (!slot.taken.compare_exchange_strong(expected, true)) continue;
      path.copy(slot.path.data(), path.size());
      slot.path[path.size()] = Char{};
      slot.armed.store(true, std::memory_order_release);
      return static_cast<int>(i);
    }
    return -1;
  }

  void Drop(int slot) noexcept {
    if (slot < 0) return;
    slots_[static_cast<std::size_t>(slot)].armed.store(false, std::memory_order_release);
    slots_[static_cast<std::size_t>(slot)].taken.store(false, std::memory_order_release);
  }

  // For a handler: `remove` with each armed slot's NUL-terminated path.
  template <class Remove>
  void RemoveEach(Remove remove) const noexcept {
    for (const Slot& slot : slots_) {
      if (slot.armed.load(std::memory_order_acquire)) remove(slot.path.data());
    }
  }

 private:
  struct Slot {
    std::atomic<bool> taken{false};
    std::atomic<bool> armed{false};
    std::array<Char, kLongest> path{};
  };
  std::array<Slot, 4> slots_;
};

}  // namespace morv::os

#endif  // MORV_OS_CLEANUPREGISTRY_H
