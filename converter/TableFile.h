#ifndef CONVERTER_TABLEFILE_H
#define CONVERTER_TABLEFILE_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace morv {

// A texture-pattern table file read back: the frame number, texture index
// and palette index of each pattern step, as the converter wrote them (see
// MorvConv for the layout). The three tables are of one size, the count N.
struct PatternTable {
  std::vector<std::uint16_t> frames;
  std::vector<std::uint8_t> textures;
  std::vector<std::uint8_t> palettes;

  std::uint32_t Count() const noexcept { return static_cast<std::uint32_t>(frames.size()); }
  friend bool operator==(const PatternTable&, const PatternTable&) = default;
};

// Why bytes or a file are not a table file.
struct TableFailure {
  enum class Kind {
    kNone,
    kUnreadable,      // the file could not be opened or read
    kDirectory,       // a directory
    kNotRegularFile,  // a device, a FIFO or a pipe: refused before anything is read
    kNoCount,         // fewer than the 4 bytes of the count
    kCountTooLarge,   // the count needs more bytes than there are: cut short
    kCountTooSmall,   // there are more bytes than the count needs
    kShrunk,          // the file ended before the size it had when it was opened
    kOutOfMemory,     // the tables could not be allocated
  };

  Kind kind = Kind::kNone;
  std::uint64_t size = 0;   // the bytes there are (a file's size when it was opened)
  std::uint32_t count = 0;  // the count the first 4 bytes give, where there are 4
  std::string detail;       // the system's words, for kUnreadable

  // One line in English: "count 36 needs 148 bytes, there are 147", ...
  std::string Describe() const;
};

// Reads a table file from bytes: exactly 4 + 4 x N of them, N being the
// unsigned 32-bit little-endian count at their start. Nothing, and `failure`
// saying why, when they are not that.
std::optional<PatternTable> ReadTable(std::span<const std::uint8_t> bytes, TableFailure& failure);

// Reads the table file at `path` (a path string as os::TInputFile takes
// it: on Windows UTF-8). Anything but a regular file is refused before it is
// read, and the count is checked against the file's size before the tables
// are allocated, so that memory never goes beyond what the file holds.
std::optional<PatternTable> ReadTableFile(const std::string& path, TableFailure& failure);

}  // namespace morv

#endif  // CONVERTER_TABLEFILE_H
