#ifndef PLATFORM_MEMORY_H
#define PLATFORM_MEMORY_H

#include <cstddef>

namespace platform {

// Tells the system that a large buffer is about to be filled from start to
// end, so that it may back it with huge pages: one page fault per 2 MiB
// instead of one per 4 KiB. Only a hint; small buffers are left alone.
void AdviseSequentialFill(const void* buffer, std::size_t bytes) noexcept;

}  // namespace platform

#endif  // PLATFORM_MEMORY_H
