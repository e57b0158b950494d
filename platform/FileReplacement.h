#ifndef MORV_OS_FILEREPLACEMENT_H
#define MORV_OS_FILEREPLACEMENT_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The operating system's side of the output file: finding what an output
// path leads to, the temporary file a table is written to, giving it its
// name, writing in place, and the signals that must not leave a temporary
// file behind. Every system call of the output is made behind this
// interface; the converter's OutputFile decides only which of these to use.
namespace morv::os {

// A writable regular file that the table is to take the place of, as it was
// when the output was opened.
struct ExistingFile {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint32_t mode = 0;  // permission bits
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
// PrepareSignals). Either way it is created with the replaced file's
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

  // Puts the whole file at the destination's path, replacing what is there.
  // Where that replacement is refused (another user's file in a sticky
  // directory, a directory entry that may not change) but the file there is
  // still the writable file the output was opened on, the table is written
  // into it in place instead (see InPlaceFile), so it keeps its owner and
  // mode; this file is given up first, so that its blocks are free for it.
  // False when the table could not be put there; the path then holds what it
  // held before, unless a write in place failed part way.
  bool Publish(const Destination& destination);

 private:
  Temporary(Descriptor file, std::string name) noexcept;
  void Remove() noexcept;

  Descriptor file_;   // open for reading and writing
  std::string name_;  // the path of a named file; empty for an unnamed one
  int slot_ = -1;     // where the signal handler finds name_; -1: nowhere
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

// Sets up the process's signals for writing outputs: SIGXFSZ is ignored, so
// that a write past a file-size limit fails (EFBIG) like any other failed
// write instead of ending the process; every other signal that would end the
// process and may be caught (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1,
// SIGALRM, SIGXCPU, the faults, the real-time signals, ...) first removes
// the named temporary files that exist at that moment, then ends the process
// as it would have. A signal the process was started ignoring stays ignored,
// and one that already has a handler (a sanitizer's) keeps it. The names of
// the named temporary files are kept for the handler in a small process-wide
// table (four at a time; the converter makes one). On Windows the console's
// Ctrl-C, Ctrl-Break and closing do the same.
void PrepareSignals();

}  // namespace morv::os

#endif  // MORV_OS_FILEREPLACEMENT_H
