#include "platform/TemporaryCleanup.h"

#include <utility>

// The ownership of an entry, the same on every system; registering it and
// the handlers are each system's own.
namespace morv::os {

TCleanupEntry::TCleanupEntry(TCleanupEntry&& other) noexcept
    : slot_(std::exchange(other.slot_, -1)) {}

TCleanupEntry& TCleanupEntry::operator=(TCleanupEntry&& other) noexcept {
  if (this != &other) {
    Release();
    slot_ = std::exchange(other.slot_, -1);
  }
  return *this;
}

}  // namespace morv::os
