#include "platform/FileReplacement.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

// The files, names and signals behind the output file.
namespace morv::os {
namespace {

// Symbolic links followed before giving up, as the system does (ELOOP).
constexpr int kMaxLinkHops = 40;
// Names tried for a fresh temporary file before giving up.
constexpr int kNameAttempts = 16;
// The signals whose default action ends the process and that may be caught,
// beside the real-time ones: each removes the named temporary files before it
// ends the process. SIGPIPE is left out (the converter ignores it: a closed
// standard output must not end a run) and so is SIGXFSZ (ignored while
// outputs are written).
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGPOLL
    SIGPOLL,
#endif
};

// The signals above and the real-time signals, whose default action ends
// the process too.
sigset_t CleanupSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal_number : kEndingSignals) sigaddset(&signals, signal_number);
#ifdef SIGRTMIN
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    sigaddset(&signals, signal_number);
  }
#endif
  return signals;
}

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

// A fresh name for a temporary file in `directory`.
std::string TemporaryName(const std::string& directory) {
  static std::random_device device;
  const std::uint64_t bits = (std::uint64_t{device()} << 32) ^ device();
  std::string name = directory + "/.morv_conv-";
  for (int shift = 60; shift >= 0; shift -= 4)
    name.push_back("0123456789abcdef"[(bits >> shift) & 0xF]);
  return name + ".tmp";
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
  ::fchmod(file.Get(), existing->mode);
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

// The named temporary files that exist, for the signal handler to remove.
// The handler may run at any moment, so a slot's path is complete before the
// slot is armed, and the handler reads nothing but armed slots.
struct CleanupSlot {
  std::atomic<bool> taken{false};
  std::atomic<bool> armed{false};
  std::array<char, PATH_MAX> path{};
};
static_assert(std::atomic<bool>::is_always_lock_free, "read from a signal handler");
std::array<CleanupSlot, 4> g_cleanup_slots;

// Puts `path` where the handler finds it; the slot, or -1 when there is no
// free slot (more temporary files at once than the converter ever makes) or
// the path is too long for one (and so for the system as well).
int Register(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (std::size_t i = 0; i < g_cleanup_slots.size(); ++i) {
    CleanupSlot& slot = g_cleanup_slots[i];
    bool expected = false;
    if (!slot.taken.compare_exchange_strong(expected, true)) continue;
    std::memcpy(slot.path.data(), path.c_str(), path.size() + 1);
    slot.armed.store(true, std::memory_order_release);
    return static_cast<int>(i);
  }
  return -1;
}

void Unregister(int slot) noexcept {
  if (slot < 0) return;
  g_cleanup_slots[static_cast<std::size_t>(slot)].armed.store(false, std::memory_order_release);
  g_cleanup_slots[static_cast<std::size_t>(slot)].taken.store(false, std::memory_order_release);
}

void RemoveTemporariesAndEnd(int signal_number) {
  for (const CleanupSlot& slot : g_cleanup_slots) {
    if (slot.armed.load(std::memory_order_acquire)) ::unlink(slot.path.data());
  }
  // The signal's own action is back (SA_RESETHAND) and the signal is blocked
  // while this runs: it ends the process as soon as the handler returns.
  ::raise(signal_number);
}

// While it lives, the cleanup signals wait: a named temporary file is never
// made, renamed or removed without its slot saying so when the handler runs.
class CleanupSignalsHeld {
 public:
  CleanupSignalsHeld() noexcept {
    static const sigset_t held = CleanupSignals();
    ::pthread_sigmask(SIG_BLOCK, &held, &saved_);
  }
  ~CleanupSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

 private:
  sigset_t saved_{};
};

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
    existing = ExistingFile{static_cast<std::uint64_t>(info.st_dev),
                            static_cast<std::uint64_t>(info.st_ino), info.st_uid, info.st_gid,
                            info.st_mode & 07777u};
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
  return Temporary(std::move(file), std::string());
}

std::optional<Temporary> Temporary::MakeNamed(const Destination& destination) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = TemporaryName(destination.directory);
    const CleanupSignalsHeld held;
    const int slot = Register(name);
    Descriptor file(::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                           S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH));
    if (!file.IsOpen()) {
      const int error = errno;
      Unregister(slot);
      if (error == EEXIST) continue;
      return std::nullopt;
    }
    Adopt(file, destination.existing);
    Temporary temporary(std::move(file), std::move(name));
    temporary.slot_ = slot;
    return temporary;
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

bool Temporary::Publish(const Destination& destination) {
  {
    // The cleanup signals wait until the table is in place (or given up):
    // the path then holds the whole table when such a signal ends the
    // process.
    const CleanupSignalsHeld held;
    if (name_.empty()) {
      // An unnamed file takes the path's name straight away where nothing is
      // there; otherwise it is named beside it first and renamed onto it.
      if (!destination.existing) {
        if (LinkUnnamed(file_, destination.path)) return true;
        if (errno != EEXIST) return false;
      }
      for (int attempt = 0; name_.empty(); ++attempt) {
        if (attempt == kNameAttempts) return false;
        std::string name = TemporaryName(destination.directory);
        const int slot = Register(name);
        if (LinkUnnamed(file_, name)) {
          name_ = std::move(name);
          slot_ = slot;
        } else {
          const int error = errno;
          Unregister(slot);
          if (error != EEXIST) return false;
        }
      }
    }
    if (::rename(name_.c_str(), destination.path.c_str()) == 0) {
      name_.clear();
      Unregister(std::exchange(slot_, -1));
      return true;
    }
  }
  // A writable file whose directory entry may not be replaced is written in
  // place, as when no temporary file can be made beside it. This file is
  // given up first: the blocks it holds may be what the write needs.
  const bool refused = errno == EPERM || errno == EACCES || errno == EBUSY;
  std::optional<std::string> table;
  if (refused && destination.existing) table = ReadAll(file_);
  Remove();
  file_.Close();
  if (!table) return false;
  std::optional<InPlaceFile> in_place = InPlaceFile::Open(destination);
  return in_place && in_place->Overwrite(*table);
}

void Temporary::Remove() noexcept {
  if (name_.empty()) return;
  const CleanupSignalsHeld held;
  ::unlink(name_.c_str());
  name_.clear();
  Unregister(std::exchange(slot_, -1));
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

void PrepareSignals() {
  ::signal(SIGXFSZ, SIG_IGN);
  const sigset_t signals = CleanupSignals();
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (sigismember(&signals, signal_number) != 1) continue;
    // Left alone: a signal ignored since the process started, and one that
    // has a handler of its own.
    struct sigaction current {};
    if (::sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
        (current.sa_flags & SA_SIGINFO) != 0) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndEnd;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace morv::os
