#ifndef CONVERTER_OUTPUTFILE_H
#define CONVERTER_OUTPUTFILE_H

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/FileReplacement.h"

namespace morv {

// An output file as it is being written: create, write, keep or discard. Where the path leads to a
// regular file or to nothing yet, the bytes go to a temporary file (see os::Temporary) that Keep
// puts in place once it is whole: the path then holds either its old content or the whole new
// table, never a part of it, whatever fails on the way and whichever signal ends the process. A
// replaced file keeps its permission bits; a symbolic link stays and its
// target is replaced; a file with several hard links is replaced by a new
// file under this name, the other names keeping the old one.
//
// A writable file beside which no temporary file can be made, or which may
// be written but not replaced, is written in place (os::InPlaceFile): only once
// the whole table is there to write, the file may grow to its size and the
// room for it is reserved, so that a file-size limit or a full disk leaves
// the old file as it was. Anything else at the path (a device such as
// /dev/null or /dev/full, a FIFO) is written as it comes.
//
// A program that writes outputs sets the process up for it first
// (os::PrepareCleanup), so that a signal that ends it
// leaves no named temporary file behind.
class OutputFile {
 public:
  // The kind of temporary file the table is written to.
  enum class Staging {
    kUnnamed,  // unnamed where the file system can make one, named otherwise
    kNamed,    // always named
  };

  // Opens the output for a file of `size` bytes; nothing when it cannot be
  // created (a directory, a missing directory, no permission, an empty
  // path), which is when fopen(path, "wb") would have failed.
  static std::optional<OutputFile> Create(const char* path, std::size_t size,
                                          Staging staging = Staging::kUnnamed);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // An output never kept is discarded.
  ~OutputFile();

  // Whether the table goes to a temporary file that replaces the path.
  bool Replaces() const noexcept { return temporary_.has_value(); }

  // Appends `size` bytes; false when they were not all written. A file
  // written in place takes them when it is kept.
  bool Write(const void* bytes, std::size_t size);

  // Puts the file in place. False when a write, the close or the
  // replacement fails; the path then keeps what it held before (unless a
  // write in place failed part way).
  bool Keep();

  // Gives the output up: a temporary file goes, the path keeps what it held.
  void Discard() noexcept;

 private:
  OutputFile(std::FILE* stream, std::optional<os::Temporary> temporary,
             std::optional<os::Destination> destination,
             std::optional<os::InPlaceFile> in_place) noexcept;

  std::FILE* stream_;                           // null for a file written in place
  std::optional<os::Temporary> temporary_;      // set when the file is replaced
  std::optional<os::Destination> destination_;  // set with temporary_
  std::optional<os::InPlaceFile> in_place_;     // set when written in place
  std::string held_;                            // what goes in place when it is kept
};

}  // namespace morv

#endif  // CONVERTER_OUTPUTFILE_H
