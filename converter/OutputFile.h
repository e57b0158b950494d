#ifndef CONVERTER_OUTPUTFILE_H
#define CONVERTER_OUTPUTFILE_H

#include <cstdio>
#include <optional>

#include "platform/FileReplacement.h"

namespace morv {

// The table file as it is being written. Where the path leads to a regular
// file or to nothing yet, the bytes go to a temporary file (see
// os::Temporary) that Commit puts in place once it is whole: the
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

  // Sets the process up for writing outputs (os::PrepareSignals).
  // Called once by a program before it writes its output.
  static void PrepareProcess() { os::PrepareSignals(); }

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
  OutputFile(std::FILE* stream, std::optional<os::Temporary> temporary,
             std::optional<os::Destination> destination) noexcept;
  void Discard() noexcept;

  std::FILE* stream_;
  std::optional<os::Temporary> temporary_;      // nothing when written in place
  std::optional<os::Destination> destination_;  // set with temporary_
};

}  // namespace morv

#endif  // CONVERTER_OUTPUTFILE_H
