#include "platform/Memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace morv::os {

void AdviseSequentialFill(const void* buffer, std::size_t bytes) noexcept {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  if (buffer == nullptr || bytes < 2 * kHugePage) return;
  // Only the whole huge pages inside the buffer can be advised.
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
  if (last <= first) return;
#ifdef MADV_HUGEPAGE
  ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

bool PopulatePages(std::uintptr_t first, std::uintptr_t last) noexcept {
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  first = (first + page - 1) & ~(page - 1);
  last &= ~(page - 1);
  if (last <= first) return true;
  if (::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE) == 0) {
    return true;
  }
  // Only a kernel that does not know the advice ends the prefaulting; any
  // other error (a range no longer mapped, memory running short) leaves the
  // pages to the writes.
  return errno != EINVAL;
#else
  (void)first;
  (void)last;
  return false;
#endif
}

std::size_t UsableSize(void* block) noexcept {
  return block == nullptr ? 0 : ::malloc_usable_size(block);
}

}  // namespace morv::os
