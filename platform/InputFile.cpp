#include "platform/InputFile.h"

#include <utility>

// What an input file is on every system; opening, reading and closing are
// each system's own.
namespace morv::os {

TInputFile::TInputFile(TInputFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosed)), size_(other.size_), id_(other.id_) {}

TInputFile& TInputFile::operator=(TInputFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kClosed);
    size_ = other.size_;
    id_ = other.id_;
  }
  return *this;
}

TInputFile::~TInputFile() { Close(); }

}  // namespace morv::os
