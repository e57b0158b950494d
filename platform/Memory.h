#ifndef MORV_OS_MEMORY_H
#define MORV_OS_MEMORY_H

#include <cstddef>
#include <cstdint>

namespace morv::os {

// Tells the system that a large buffer is about to be filled from start to
// end, so that it may back it with huge pages: one page fault per 2 MiB
// instead of one per 4 KiB. Only a hint; small buffers are left alone.
void AdviseSequentialFill(const void* buffer, std::size_t bytes) noexcept;

// Faults in the whole pages of [first, last) without changing what they hold
// (their page tables only). False when the system cannot do that at all, so
// that asking again is pointless; a range it could not fault in this time (no
// longer mapped, memory running short) still answers true, its pages left to
// the writes.
bool PopulatePages(std::uintptr_t first, std::uintptr_t last) noexcept;

// The bytes a block from the global operator new really takes (at least what
// was asked for); 0 for null.
std::size_t UsableSize(void* block) noexcept;

}  // namespace morv::os

#endif  // MORV_OS_MEMORY_H
