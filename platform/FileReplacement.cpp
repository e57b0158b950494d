#include "platform/FileReplacement.h"

#include <utility>

// The descriptor's ownership, the same on every system; closing it is each
// system's own.
namespace morv::os {

Descriptor::Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Descriptor::~Descriptor() { Close(); }

int Descriptor::Release() noexcept { return std::exchange(fd_, -1); }

}  // namespace morv::os
