#include "platform/Memory.h"

#include <malloc.h>

namespace morv::os {

// Windows backs ordinary allocations with small pages and offers no hint to
// do otherwise: the buffer is filled as it is.
void AdviseSequentialFill(const void*, std::size_t) noexcept {}

// Windows cannot fault in fresh pages without touching what they hold: the
// writes fault them in themselves, and the prefaulter stops asking.
bool PopulatePages(std::uintptr_t, std::uintptr_t) noexcept { return false; }

std::size_t UsableSize(void* block) noexcept { return block != nullptr ? ::_msize(block) : 0; }

}  // namespace morv::os
