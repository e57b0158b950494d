#ifndef MORV_OS_INPUTFILE_H
#define MORV_OS_INPUTFILE_H

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace morv::os {

// Which file an open file is, whatever path it was opened by: its device and
// inode (on Windows its volume and file index); zero for what has none.
struct TFileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend auto operator<=>(const TFileId&, const TFileId&) = default;
};

// A file open for reading in binary mode (its bytes exactly as stored),
// closed when the owner goes.
//
// A path is the string the program was given or built: on POSIX systems the
// file name's exact bytes; on Windows the UTF-8 form of the UTF-16 name (a
// lone surrogate kept in the generalised form, so that every name round-
// trips), of which "/" and "\" both separate folders.
class TInputFile {
 public:
  // What a path may name.
  enum class TKind {
    kAnyFile,  // a regular file, a pipe or a device
    kDiskFile  // a regular file only; anything else is refused at once,
               // without waiting for a writer or a device
  };

  TInputFile() noexcept = default;
  TInputFile(TInputFile&& other) noexcept;
  TInputFile& operator=(TInputFile&& other) noexcept;
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;
  ~TInputFile();

  // Why a path was not opened.
  enum class TRefusal {
    kCannotOpen,     // missing, not allowed, or the system failed to open or examine it
    kDirectory,      // a directory, which is never opened
    kNotRegularFile  // a pipe or a device where a regular file is required
  };

  // Opens `path`. A directory is never opened. On failure the file is not
  // open, `problem` says why, naming the path ("cannot open <path>: ...",
  // "<path> is a directory", "<path> is not a regular file"), and so does
  // `refusal` when given.
  static TInputFile Open(const std::string& path, TKind kind, std::string& problem,
                         TRefusal* refusal = nullptr);

  bool IsOpen() const noexcept { return handle_ != kClosed; }
  // The size of a regular file, as it was when opened.
  std::optional<std::uint64_t> Size() const noexcept { return size_; }
  // The file opened, however its path spells it.
  TFileId Id() const noexcept { return id_; }

  // Reads up to `size` bytes: how many were read, 0 at the end of the file;
  // nothing when the read fails, `problem` then saying why.
  std::optional<std::size_t> Read(void* buffer, std::size_t size, std::string& problem) noexcept;

 private:
  static constexpr std::intptr_t kClosed = -1;

  // A file not opened for `why`: `problem` and `refusal` say so, the path as
  // messages show it, and for kCannotOpen the system's `reason`.
  static TInputFile Refused(TRefusal why, const std::string& path, const std::string& reason,
                            std::string& problem, TRefusal* refusal);

  TInputFile(std::intptr_t handle, std::optional<std::uint64_t> size) noexcept
      : handle_(handle), size_(size) {}
  void Close() noexcept;

  std::intptr_t handle_ = kClosed;  // the system's descriptor or handle
  std::optional<std::uint64_t> size_;
  TFileId id_;
};

// The path as messages show it: in the tool chain's narrow code page, CP932.
// On POSIX systems the bytes as given; on Windows the name narrowed to CP932,
// a character it lacks becoming "?".
std::string DisplayPath(const std::string& path);

}  // namespace morv::os

#endif  // MORV_OS_INPUTFILE_H
