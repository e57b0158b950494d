#include "platform/FileReplacement.h"

#include <utility>

// The ownership of the descriptor and of a temporary file, the same on every
// system; closing and removing them is each system's own.
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

Temporary::Temporary(Descriptor file, std::string name) noexcept
    : file_(std::move(file)), name_(std::move(name)) {}

Temporary::Temporary(Temporary&& other) noexcept
    : file_(std::move(other.file_)),
      name_(std::exchange(other.name_, std::string())),
      slot_(std::exchange(other.slot_, -1)) {}

Temporary::~Temporary() { Remove(); }

}  // namespace morv::os
