#ifndef IFP_INTERNAL_GUARDS_KEPTBYTES_H
#define IFP_INTERNAL_GUARDS_KEPTBYTES_H

#include <algorithm>
#include <cstddef>
#include <string>

namespace ifp::internal {

// The memory that a block of `size` bytes from the allocator takes: a header
// word before it, the whole rounded up to 16 bytes, and never less than 32.
constexpr std::size_t BlockBytesOf(std::size_t size) noexcept {
  constexpr std::size_t kHeader = sizeof(void*);
  constexpr std::size_t kGranule = 16;
  return std::max<std::size_t>(32, (size + kHeader + kGranule - 1) / kGranule * kGranule);
}

// The memory that a string's text takes beyond the string itself: none for a
// short text, which stays inside the string.
inline std::size_t HeapBytesOf(const std::string& text) noexcept {
  static const std::size_t kInPlace = std::string().capacity();
  return text.capacity() > kInPlace ? BlockBytesOf(text.capacity() + 1) : 0;
}

// The memory that the narrow copy of `units` UTF-16 units may take beyond
// the string itself: up to two bytes a unit, a short text none.
inline std::size_t NarrowBytesOf(std::size_t units) noexcept {
  static const std::size_t kInPlace = std::string().capacity();
  const std::size_t most = 2 * units;
  // A string leaving its own room takes at least twice that room.
  return most > kInPlace ? BlockBytesOf(std::max(most, 2 * kInPlace) + 1) : 0;
}

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_GUARDS_KEPTBYTES_H
