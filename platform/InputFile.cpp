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

TInputFile TInputFile::Refused(TRefusal why, const std::string& path, const std::string& reason,
                               std::string& problem, TRefusal* refusal) {
  const std::string shown = DisplayPath(path);
  switch (why) {
    case TRefusal::kCannotOpen:
      problem = "cannot open " + shown + ": " + reason;
      break;
    case TRefusal::kDirectory:
      problem = shown + " is a directory";
      break;
    case TRefusal::kNotRegularFile:
      problem = shown + " is not a regular file";
      break;
  }
  if (refusal != nullptr) *refusal = why;
  return TInputFile();
}

}  // namespace morv::os
