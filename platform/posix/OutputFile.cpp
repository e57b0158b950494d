#include "platform/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <random>
#include <utility>

namespace morv::os {
namespace {

// Symbolic links followed before giving up, as the system does (ELOOP).
constexpr int kMaxLinkHops = 40;

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The path that a chain of symbolic links starting at `path` ends at,
// whether or not anything is there yet; nothing when the chain cannot be
// followed.
std::optional<std::string> FinalTarget(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      if (errno == ENOENT) return path;
      return std::nullopt;
    }
    if (!S_ISLNK(info.st_mode)) return path;
    std::array<char, 4096> link{};
    const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
    if (length <= 0 || static_cast<std::size_t>(length) == link.size()) return std::nullopt;
    const std::string next(link.data(), static_cast<std::size_t>(length));
    path = next.front() == '/' ? next : DirectoryOf(path) + "/" + next;
  }
  return std::nullopt;
}

std::string RandomName() {
  static std::random_device device;
  const std::uint64_t bits = (std::uint64_t{device()} << 32) ^ device();
  std::string name = ".morv_conv-";
  for (int shift = 60; shift >= 0; shift -= 4)
    name.push_back("0123456789abcdef"[(bits >> shift) & 0xF]);
  return name + ".tmp";
}

}  // namespace

std::optional<OutputFile> OutputFile::Open(const char* path) {
  if (std::optional<OutputFile> replacement = OpenReplacement(path)) return replacement;
  std::FILE* const stream = std::fopen(path, "wb");
  if (stream == nullptr) return std::nullopt;
  return OutputFile(stream, std::string(), path);
}

std::optional<OutputFile> OutputFile::OpenReplacement(const char* path) {
  // Only a regular file, or nothing yet, is replaced. What cannot be written
  // at all (a directory, a file without write permission) is left to the
  // plain open, which fails as it always has.
  std::optional<struct stat> existing;
  struct stat info {};
  if (::stat(path, &info) == 0) {
    if (!S_ISREG(info.st_mode) || ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) {
      return std::nullopt;
    }
    existing = info;
  } else if (errno != ENOENT) {
    return std::nullopt;
  }

  // A symbolic link stays: its target is what gets replaced.
  const std::optional<std::string> target = FinalTarget(path);
  if (!target) return std::nullopt;
  if (existing) {
    struct stat found {};
    if (::stat(target->c_str(), &found) != 0 || found.st_dev != existing->st_dev ||
        found.st_ino != existing->st_ino) {
      return std::nullopt;  // reached by a way the link chain does not show
    }
  }

  const std::string directory = DirectoryOf(*target);
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string temporary = directory + "/" + RandomName();
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return std::nullopt;
    }
    if (existing) {
      // The replacement keeps the file's mode, and its owner where the
      // system lets a file be given away (root may); otherwise it is ours.
      [[maybe_unused]] const int given = ::fchown(fd, existing->st_uid, existing->st_gid);
      ::fchmod(fd, existing->st_mode & 07777);
    }
    std::FILE* const stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
      ::close(fd);
      ::unlink(temporary.c_str());
      return std::nullopt;
    }
    return OutputFile(stream, std::move(temporary), *target);
  }
  return std::nullopt;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)),
      temporary_(std::move(other.temporary_)),
      target_(std::move(other.target_)) {
  other.temporary_.clear();
}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Commit() {
  std::FILE* const stream = std::exchange(stream_, nullptr);
  bool written = std::ferror(stream) == 0;
  // Data still buffered may only fail now (a full disk).
  written = std::fclose(stream) == 0 && written;
  if (temporary_.empty()) return written;
  const std::string temporary = std::exchange(temporary_, std::string());
  if (written && std::rename(temporary.c_str(), target_.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

void OutputFile::Discard() noexcept {
  if (stream_ != nullptr) std::fclose(std::exchange(stream_, nullptr));
  if (!temporary_.empty()) ::unlink(std::exchange(temporary_, std::string()).c_str());
}

}  // namespace morv::os
