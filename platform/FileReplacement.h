#ifndef MORV_OS_FILEREPLACEMENT_H
#define MORV_OS_FILEREPLACEMENT_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/TemporaryCleanup.h"

// The operating system's side of the output file (OutputFile.h): finding
// what an output path leads to, the temporary file a table is written to,
// giving it its name, writing in place. Private to the platform layer: the
// output file decides which of these to use, each system makes the calls.
namespace morv::os {

// A writable regular file that the table is to take the place of, as it was
// when the output was opened. Each member means one thing on every system;
// what a system does not have is 0 there.
struct ExistingFile {
  std::uint64_t device = 0;       // its device (on Windows its volume)
  std::uint64_t inode = 0;        // its inode (on Windows its file index)
  std::uint32_t owner = 0;        // its owner's user id (POSIX)
  std::uint32_t group = 0;        // its group id (POSIX)
  std::uint32_t permissions = 0;  // its permission bits (POSIX)
  std::uint32_t attributes = 0;   // its file attributes: hidden, system, ... (Windows)
};

// Where a table that replaces the output goes.
struct Destination {
  std::string path;                      // the end of the output path's chain of symbolic links
  std::string directory;                 // the directory holding it
  std::optional<ExistingFile> existing;  // nothing when no file is there yet
};

// Where the table replacing `path` goes. Nothing when the output is not
// replaced: the path leads to something other than a regular file (a
// device, a FIFO, a directory), to a file that cannot be written, along a
// chain of links that cannot be followed, or names no file at all (empty, or
// ending in a slash).
std::optional<Destination> FindDestination(const char* path);

// An open file descriptor, closed when dropped.
class Descriptor {
 public:
  Descriptor() noexcept = default;
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept;
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor();

  int Get() const noexcept { return fd_; }
  bool IsOpen() const noexcept { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release() noexcept;
  // Closes it now; false when the close reports an error.
  bool Close() noexcept;

 private:
  int fd_ = -1;
};

// The file a table is written to before it takes the place of the output.
// Either unnamed, so that it vanishes with the process however that ends
// (even killed outright), or, where the file system cannot make an unnamed
// file, under a fresh name ".morv_conv-*.tmp" beside the output, which is
// removed when the file is dropped and when a signal ends the process (see
// TemporaryCleanup.h). Either way it is created with the replaced file's
// permission bits, and its owner and group where the system lets a file be
// given away.
class Temporary {
 public:
  // Nothing when the file system cannot make an unnamed file in the
  // destination's directory, or this process could not give it a name.
  static std::optional<Temporary> MakeUnnamed(const Destination& destination);
  // Nothing when no file can be created in the destination's directory.
  static std::optional<Temporary> MakeNamed(const Destination& destination);

  Temporary(Temporary&& other) noexcept;
  Temporary& operator=(Temporary&&) = delete;
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  // A named file not yet put in place is removed.
  ~Temporary();

  // A stream writing the file from its start, with a descriptor of its own;
  // nothing when none can be made.
  std::FILE* OpenStream() const;

  // What became of a file put in place.
  enum class Publication {
    kPlaced,   // the path holds the whole file
    kFailed,   // the path holds what it held before
    kRefused,  // the replacement of an existing file was refused (another
               // user's file in a sticky directory, a directory entry that
               // may not change): it may be written in place instead
  };
  // Puts the whole file at the destination's path, replacing what is there.
  Publication Publish(const Destination& destination);
  // The whole file as it was written; nothing when it cannot be read.
  std::optional<std::string> ReadBack() const;

 private:
  Temporary(Descriptor file, std::string name, TCleanupEntry cleanup) noexcept;
  void Remove() noexcept;

  Descriptor file_;        // open for reading and writing
  std::string name_;       // the path of a named file; empty for an unnamed one
  TCleanupEntry cleanup_;  // name_ for the clean-up on signals
};

// An existing regular file that a table is written into in place, because
// it cannot be replaced: opened for writing, and left as it is until
// Overwrite.
class InPlaceFile {
 public:
  // Opens the destination's existing file, only if the path still leads to
  // that very file (not to a link or another file put there since); nothing
  // when it cannot be opened.
  static std::optional<InPlaceFile> Open(const Destination& destination);

  // Makes `bytes` the whole of the file. Nothing is changed unless the file
  // may grow to their size (the file-size limit) and the room for them is
  // reserved, where the file system can reserve room; the answer is then
  // false. Only a write that fails part way (an I/O error) leaves the file
  // partly written, and false.
  bool Overwrite(std::string_view bytes);

 private:
  explicit InPlaceFile(Descriptor file) noexcept : file_(std::move(file)) {}

  Descriptor file_;
};

// Opens an output that is neither replaced nor an existing regular file (a
// device such as /dev/null or NUL, a FIFO, a path where nothing can be made)
// as fopen(path, "wb") opens it. Nothing when it cannot be opened.
std::FILE* OpenOther(const char* path);

// A fresh name for a temporary file, ".morv_conv-<16 hex digits>.tmp".
std::string TemporaryFileName();

}  // namespace morv::os

#endif  // MORV_OS_FILEREPLACEMENT_H
