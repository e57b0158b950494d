#include "platform/FileReplacement.h"

#include <cstdint>
#include <random>
#include <utility>

// The ownership of the descriptor and of a temporary file, and the temporary
// files' names, the same on every system; closing and removing them is each
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

Temporary::Temporary(Descriptor file, std::string name, TCleanupEntry cleanup) noexcept
    : file_(std::move(file)), name_(std::move(name)), cleanup_(std::move(cleanup)) {}

Temporary::Temporary(Temporary&& other) noexcept
    : file_(std::move(other.file_)),
      name_(std::exchange(other.name_, std::string())),
      cleanup_(std::move(other.cleanup_)) {}

Temporary::~Temporary() { Remove(); }

std::string TemporaryFileName() {
  static std::random_device device;
  const std::uint64_t bits = (std::uint64_t{device()} << 32) ^ device();
  std::string name = ".morv_conv-";
  for (int shift = 60; shift >= 0; shift -= 4) {
    name.push_back("0123456789abcdef"[(bits >> shift) & 0xF]);
  }
  return name + ".tmp";
}

}  // namespace morv::os
