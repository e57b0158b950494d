#ifndef MORV_OS_TEMPORARYCLEANUP_H
#define MORV_OS_TEMPORARYCLEANUP_H

#include <cstdint>
#include <string>

// The removal of named temporary files when the process is ended from
// outside: on POSIX systems by any signal whose default action ends it and
// that may be caught (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM,
// SIGXCPU, the faults, the real-time signals, ...), on Windows by Ctrl-C,
// Ctrl-Break or the console closing. A registered file is removed, then the
// process ends as it would have.
namespace morv::os {

// Sets the process up for it, once, before it makes temporary files. On
// POSIX systems SIGXFSZ is also ignored, so that a write past a file-size
// limit fails (EFBIG) like any other failed write instead of ending the
// process. A signal the process was started ignoring stays ignored, and one
// that already has a handler (a sanitizer's) keeps it.
void PrepareCleanup();

// A named temporary file's place in the clean-up: while it lives, a handler
// that runs removes the file. The paths are kept for the handlers in a small
// table of the process (four at a time; a program makes one or two).
class TCleanupEntry {
 public:
  TCleanupEntry() noexcept = default;
  // Nothing is registered when the table is full or the path too long for
  // it (and so for the system too).
  explicit TCleanupEntry(const std::string& path) noexcept;
  TCleanupEntry(TCleanupEntry&& other) noexcept;
  TCleanupEntry& operator=(TCleanupEntry&& other) noexcept;
  TCleanupEntry(const TCleanupEntry&) = delete;
  TCleanupEntry& operator=(const TCleanupEntry&) = delete;
  ~TCleanupEntry() { Release(); }

  // The file is no longer the handlers' to remove.
  void Release() noexcept;

 private:
  int slot_ = -1;
};

// While one lives, the handlers wait, so that none runs while a registered
// file is made, renamed or removed (on POSIX systems the signals are held;
// on Windows, where the handler runs on a thread of its own, nothing waits).
class TCleanupHold {
 public:
  TCleanupHold() noexcept;
  ~TCleanupHold();
  TCleanupHold(const TCleanupHold&) = delete;
  TCleanupHold& operator=(const TCleanupHold&) = delete;

 private:
  std::uint64_t saved_[16];  // the signals held before (POSIX)
};

}  // namespace morv::os

#endif  // MORV_OS_TEMPORARYCLEANUP_H
