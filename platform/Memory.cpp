#include "platform/Memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace platform {

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

}  // namespace platform
