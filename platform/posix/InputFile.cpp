#include "platform/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace morv::os {

void TInputFile::Close() noexcept {
  if (handle_ != kClosed) ::close(static_cast<int>(std::exchange(handle_, kClosed)));
}

// A disk file is opened without blocking, so that a FIFO or a device answers
// at once instead of waiting for a writer; once it is known to be a regular
// file, reads block as usual.
TInputFile TInputFile::Open(const std::string& path, TKind kind, std::string& problem,
                            TRefusal* refusal) {
  const bool disk_only = kind == TKind::kDiskFile;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (disk_only ? O_NONBLOCK : 0));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return Refused(TRefusal::kCannotOpen, path, std::strerror(errno), problem, refusal);
  }
  TInputFile file(fd, std::nullopt);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return Refused(TRefusal::kCannotOpen, path, std::strerror(errno), problem, refusal);
  }
  if (S_ISDIR(info.st_mode)) {
    return Refused(TRefusal::kDirectory, path, {}, problem, refusal);
  }
  if (disk_only) {
    if (!S_ISREG(info.st_mode)) {
      return Refused(TRefusal::kNotRegularFile, path, {}, problem, refusal);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  if (S_ISREG(info.st_mode)) file.size_ = static_cast<std::uint64_t>(info.st_size);
  file.id_ = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
  return file;
}

std::optional<std::size_t> TInputFile::Read(void* buffer, std::size_t size,
                                            std::string& problem) noexcept {
  ssize_t got;
  do {
    got = ::read(static_cast<int>(handle_), buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    try {
      problem = std::string("cannot read: ") + std::strerror(errno);
    } catch (...) {
    }
    return std::nullopt;
  }
  return static_cast<std::size_t>(got);
}

std::string DisplayPath(const std::string& path) { return path; }

}  // namespace morv::os
