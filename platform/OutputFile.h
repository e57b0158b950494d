#ifndef MORV_OS_OUTPUTFILE_H
#define MORV_OS_OUTPUTFILE_H

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

namespace morv::os {

// The table file as it is being written, in binary mode. Where the path
// names a regular file or nothing yet, the bytes go to a temporary file
// beside it (beside the final target of a symbolic link), which Commit moves
// onto the path: the path then holds either its old content or the whole new
// table, never a part of it, whatever fails on the way. A replaced file keeps
// its permission bits (POSIX) or its attributes (Windows). Anything else at
// the path (a device such as /dev/null, /dev/full or NUL, a FIFO) is written
// in place, as is a writable file beside which no temporary file can be
// made. On Windows the temporary file is also removed when the run is
// interrupted (Ctrl-C, Ctrl-Break, the console closing) before Commit.
class OutputFile {
 public:
  // Opens the output; nothing when it cannot be created (a directory, a
  // missing directory, no permission), which is when fopen(path, "wb") would
  // have failed.
  static std::optional<OutputFile> Open(const char* path);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // An output never committed is given up: its temporary file is removed.
  ~OutputFile();

  std::FILE* Stream() const noexcept { return stream_; }

  // Closes the stream and puts the file in place. False when the close or
  // the rename fails; the path then keeps what it held before (unless the
  // file was written in place).
  bool Commit();

 private:
  OutputFile(std::FILE* stream, std::string temporary, std::string target) noexcept
      : stream_(stream), temporary_(std::move(temporary)), target_(std::move(target)) {}
  // A temporary file beside what `path` leads to, when that is a regular
  // file or nothing yet.
  static std::optional<OutputFile> OpenReplacement(const char* path);
  void Discard() noexcept;

  std::FILE* stream_;
  std::string temporary_;  // empty when written in place
  std::string target_;
};

}  // namespace morv::os

#endif  // MORV_OS_OUTPUTFILE_H
