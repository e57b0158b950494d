#ifndef CONVERTER_OUTPUTFILE_H
#define CONVERTER_OUTPUTFILE_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace morv {

// The operating system's side of the output file: finding what an output
// path leads to, the temporary file a table is written to, giving it its
// name, writing in place, and the signals that must not leave a temporary
// file behind. Every system call of the output is made behind this
// interface; OutputFile below decides only which of these to use.
namespace output_os {

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
// removed when the file is dropped and when SIGINT, SIGTERM or SIGHUP ends
// the process (see PrepareSignals). Either way it is created with the
// replaced file's permission bits, and its owner where the system lets a
// file be given away.
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
  // still the writable file the output was opened on, the table is copied
  // into it in place instead, so it keeps its owner and mode. False when the
  // table could not be put there; the path then holds what it held before,
  // unless a copy in place failed part way.
  bool Publish(const Destination& destination);

 private:
  Temporary(Descriptor file, std::string name) noexcept;
  void Remove() noexcept;

  Descriptor file_;   // open for reading and writing
  std::string name_;  // the path of a named file; empty for an unnamed one
  int slot_ = -1;     // where the signal handler finds name_; -1: nowhere
};

// Opens the output at `path` for writing in place, from its start. An
// existing file found by FindDestination (`existing` set) is opened without
// being created anew and only if it is still that file; anything else is
// opened as fopen(path, "wb") opens it. Nothing when it cannot be opened.
std::FILE* OpenInPlace(const char* path, const std::optional<Destination>& destination);

// Sets up the process's signals for writing outputs: SIGXFSZ is ignored, so
// that a write past a file-size limit fails (EFBIG) like any other failed
// write instead of ending the process; SIGINT, SIGTERM and SIGHUP remove
// the named temporary files that exist at that moment, then end the process
// with the signal as before. A signal the process was started ignoring stays
// ignored. The names of the named temporary files are kept for the handler
// in a small process-wide table (four at a time; the converter makes one).
void PrepareSignals();

}  // namespace output_os

// The table file as it is being written. Where the path leads to a regular
// file or to nothing yet, the bytes go to a temporary file (see
// output_os::Temporary) that Commit puts in place once it is whole: the
// path then holds either its old content or the whole new table, never a
// part of it, whatever fails on the way and whichever signal ends the
// process. A replaced file keeps its permission bits; a symbolic link stays
// and its target is replaced; a file with several hard links is replaced by
// a new file under this name, the other names keeping the old one. Anything
// else at the path (a device such as /dev/null or /dev/full, a FIFO) is
// written in place, as is a writable file beside which no temporary file
// can be made, or which may be written but not replaced.
class OutputFile {
 public:
  // The kind of temporary file the table is written to.
  enum class Staging {
    kUnnamed,  // unnamed where the file system can make one, named otherwise
    kNamed,    // always named
  };

  // Sets the process up for writing outputs (output_os::PrepareSignals).
  // Called once by a program before it writes its output.
  static void PrepareProcess() { output_os::PrepareSignals(); }

  // Opens the output; nothing when it cannot be created (a directory, a
  // missing directory, no permission, an empty path), which is when
  // fopen(path, "wb") would have failed.
  static std::optional<OutputFile> Open(const char* path, Staging staging = Staging::kUnnamed);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // An output never committed is given up: its temporary file goes.
  ~OutputFile();

  std::FILE* Stream() const noexcept { return stream_; }
  // Whether the table goes to a temporary file (false: written in place).
  bool Replaces() const noexcept { return temporary_.has_value(); }

  // Closes the stream and puts the file in place. False when a write, the
  // close or the replacement fails; the path then keeps what it held before
  // (unless the file was written in place).
  bool Commit();

 private:
  OutputFile(std::FILE* stream, std::optional<output_os::Temporary> temporary,
             std::optional<output_os::Destination> destination) noexcept;
  void Discard() noexcept;

  std::FILE* stream_;
  std::optional<output_os::Temporary> temporary_;      // nothing when written in place
  std::optional<output_os::Destination> destination_;  // set with temporary_
};

}  // namespace morv

#endif  // CONVERTER_OUTPUTFILE_H
