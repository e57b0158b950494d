#include "platform/FileReplacement.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

#include "platform/TemporaryCleanup.h"

// The files and names behind the output file.
namespace morv::os {
namespace {

// Symbolic links followed before giving up, as the system does (ELOOP).
constexpr int kMaxLinkHops = 40;
// Names tried for a fresh temporary file before giving up.
constexpr int kNameAttempts = 16;
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

bool IsFile(const struct stat& info, const ExistingFile& file) {
  return S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_dev) == file.device &&
         static_cast<std::uint64_t>(info.st_ino) == file.inode;
}

// Gives a new temporary file the mode of the file it replaces, and its owner
// where the system lets a file be given away (root may); otherwise it stays
// ours.
void Adopt(const Descriptor& file, const std::optional<ExistingFile>& existing) {
  if (!existing) return;
  [[maybe_unused]] const int given = ::fchown(file.Get(), existing->owner, existing->group);
  ::fchmod(file.Get(), existing->permissions);
}

// How an open file descriptor is reached by name: the link the kernel keeps
// for it, which links to the file itself even when it has no name.
std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Gives the unnamed file behind `file` the name `name`; false with errno set
// when it cannot.
bool LinkUnnamed(const Descriptor& file, const std::string& name) {
  if (::linkat(AT_FDCWD, ProcPath(file.Get()).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) ==
      0) {
    return true;
  }
  if (errno != ENOENT) return false;
  // Without /proc, a process with the right to do so may link the
  // descriptor itself.
  return ::linkat(file.Get(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
}

// Opens `existing` at `path` for writing, without changing it, creating
// anything, or following a link: only when the path still leads to that very
// file. -1 when it cannot.
int OpenExisting(const std::string& path, const ExistingFile& existing) {
  Descriptor file(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.IsOpen()) return -1;
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0 || !IsFile(info, existing)) return -1;
  // Regular files ignore O_NONBLOCK; it only kept a FIFO put at the path
  // from blocking the open above.
  if (::fcntl(file.Get(), F_SETFL, 0) != 0) return -1;
  return file.Release();
}

// The whole of what `file` holds, read from its start; nothing when it
// cannot be read.
std::optional<std::string> ReadAll(const Descriptor& file) {
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0 || info.st_size < 0) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got =
        ::pread(file.Get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}

// Whether a file may grow to `size` bytes under the process's file-size
// limit.
bool WithinFileSizeLimit(std::uint64_t size) {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
  return size <= static_cast<std::uint64_t>(limit.rlim_cur);
}

// Reserves the blocks the first `size` bytes of `file` take, without
// changing its size or what it holds. False only when the file system says
// there is no room (or the file may not grow); a file system that cannot
// reserve leaves the room to the writes.
bool Reserve(const Descriptor& file, std::uint64_t size) {
#ifdef FALLOC_FL_KEEP_SIZE
  int result = 0;
  do {
    result = ::fallocate(file.Get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  return errno != ENOSPC && errno != EDQUOT && errno != EFBIG && errno != EPERM;
#else
  (void)file;
  (void)size;
  return true;
#endif
}

}  // namespace

bool Descriptor::Close() noexcept {
  if (fd_ < 0) return true;
  return ::close(std::exchange(fd_, -1)) == 0;
}

std::optional<Destination> FindDestination(const char* path) {
  // Only a regular file, or nothing yet, is replaced. What cannot be written
  // at all (a directory, a file without write permission) is left to the
  // plain open, which fails as it always has.
  std::optional<ExistingFile> existing;
  struct stat info {};
  if (::stat(path, &info) == 0) {
    if (!S_ISREG(info.st_mode) || ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) {
      return std::nullopt;
    }
    existing = ExistingFile{.device = static_cast<std::uint64_t>(info.st_dev),
                            .inode = static_cast<std::uint64_t>(info.st_ino),
                            .owner = info.st_uid,
                            .group = info.st_gid,
                            .permissions = info.st_mode & 07777u};
  } else if (errno != ENOENT) {
    return std::nullopt;
  }

  // A symbolic link stays: its target is what gets replaced.
  std::optional<std::string> target = FinalTarget(path);
  if (!target) return std::nullopt;
  if (existing) {
    struct stat found {};
    if (::stat(target->c_str(), &found) != 0 || !IsFile(found, *existing)) {
      return std::nullopt;  // reached by a way the link chain does not show
    }
  }
  // A path that names no file (empty, or ending in a slash) has nothing to
  // replace.
  if (target->empty() || target->back() == '/') return std::nullopt;
  std::string directory = DirectoryOf(*target);
  return Destination{std::move(*target), std::move(directory), existing};
}

std::optional<Temporary> Temporary::MakeUnnamed(const Destination& destination) {
  Descriptor file(::open(destination.directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC,
                         S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH));
  if (!file.IsOpen()) return std::nullopt;  // EOPNOTSUPP, EISDIR: no unnamed files here
  // It is given its name through /proc later: that must lead to it now.
  struct stat own {};
  struct stat named {};
  if (::fstat(file.Get(), &own) != 0 || ::stat(ProcPath(file.Get()).c_str(), &named) != 0 ||
      own.st_dev != named.st_dev || own.st_ino != named.st_ino) {
    return std::nullopt;
  }
  Adopt(file, destination.existing);
  return Temporary(std::move(file), std::string(), TCleanupEntry());
}

std::optional<Temporary> Temporary::MakeNamed(const Destination& destination) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = destination.directory + "/" + TemporaryFileName();
    const TCleanupHold held;
    TCleanupEntry cleanup(name);
    Descriptor file(::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                           S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH));
    if (!file.IsOpen()) {
      if (errno == EEXIST) continue;
      return std::nullopt;
    }
    Adopt(file, destination.existing);
    return Temporary(std::move(file), std::move(name), std::move(cleanup));
  }
  return std::nullopt;
}

std::FILE* Temporary::OpenStream() const {
  Descriptor own(::fcntl(file_.Get(), F_DUPFD_CLOEXEC, 0));
  if (!own.IsOpen()) return nullptr;
  std::FILE* const stream = ::fdopen(own.Get(), "wb");
  if (stream != nullptr) own.Release();
  return stream;
}

Temporary::Publication Temporary::Publish(const Destination& destination) {
  // The cleanup signals wait until the table is in place (or given up): the
  // path then holds the whole table when such a signal ends the process.
  const TCleanupHold held;
  if (name_.empty()) {
    // An unnamed file takes the path's name straight away where nothing is
    // there; otherwise it is named beside it first and renamed onto it.
    if (!destination.existing) {
      if (LinkUnnamed(file_, destination.path)) return Publication::kPlaced;
      if (errno != EEXIST) return Publication::kFailed;
    }
    for (int attempt = 0; name_.empty(); ++attempt) {
      if (attempt == kNameAttempts) return Publication::kFailed;
      std::string name = destination.directory + "/" + TemporaryFileName();
      TCleanupEntry cleanup(name);
      if (LinkUnnamed(file_, name)) {
        name_ = std::move(name);
        cleanup_ = std::move(cleanup);
      } else if (errno != EEXIST) {
        return Publication::kFailed;
      }
    }
  }
  if (::rename(name_.c_str(), destination.path.c_str()) == 0) {
    name_.clear();
    cleanup_.Release();
    return Publication::kPlaced;
  }
  const bool refused = errno == EPERM || errno == EACCES || errno == EBUSY;
  return refused && destination.existing ? Publication::kRefused : Publication::kFailed;
}

std::optional<std::string> Temporary::ReadBack() const { return ReadAll(file_); }

void Temporary::Remove() noexcept {
  if (name_.empty()) return;
  const TCleanupHold held;
  ::unlink(name_.c_str());
  name_.clear();
  cleanup_.Release();
}

std::optional<InPlaceFile> InPlaceFile::Open(const Destination& destination) {
  if (!destination.existing) return std::nullopt;
  Descriptor file(OpenExisting(destination.path, *destination.existing));
  if (!file.IsOpen()) return std::nullopt;
  return InPlaceFile(std::move(file));
}

bool InPlaceFile::Overwrite(std::string_view bytes) {
  if (!WithinFileSizeLimit(bytes.size()) || !Reserve(file_, bytes.size())) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put =
        ::pwrite(file_.Get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  // What the old file held beyond the new bytes goes.
  if (::ftruncate(file_.Get(), static_cast<off_t>(bytes.size())) != 0) return false;
  return file_.Close();
}

std::FILE* OpenOther(const char* path) { return std::fopen(path, "wb"); }

}  // namespace morv::os
