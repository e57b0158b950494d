#include "converter/TableFile.h"

#include <algorithm>
#include <bit>
#include <new>
#include <stdexcept>

#include "platform/InputFile.h"

namespace morv {
namespace {

using Kind = TableFailure::Kind;

std::uint32_t CountOf(const std::uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t{bytes[3]} << 24;
}

// Whether `size` bytes, beginning with `head` (their first four, or all of
// them when there are fewer), hold a table file: the count they begin with
// must be that of exactly `size` bytes. Checked before anything is
// allocated.
bool SizeFits(std::uint64_t size, std::span<const std::uint8_t> head, TableFailure& failure) {
  failure.size = size;
  if (size < 4) {
    failure.kind = Kind::kNoCount;
    return false;
  }
  failure.count = CountOf(head.data());
  const std::uint64_t needed = 4 + 4 * std::uint64_t{failure.count};
  if (needed != size) {
    failure.kind = needed > size ? Kind::kCountTooLarge : Kind::kCountTooSmall;
    return false;
  }
  return true;
}

// Tables of `count` entries each; nothing when they cannot be had.
std::optional<PatternTable> Allocate(std::uint32_t count, TableFailure& failure) {
  try {
    PatternTable table;
    table.frames.resize(count);
    table.textures.resize(count);
    table.palettes.resize(count);
    return table;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {  // more than a 32-bit system can address
  }
  failure.kind = Kind::kOutOfMemory;
  return std::nullopt;
}

// The frame table's memory, filled with its little-endian bytes, in the
// host's order.
std::uint8_t* FrameBytes(PatternTable& table) {
  return reinterpret_cast<std::uint8_t*>(table.frames.data());
}
void FramesToHostOrder(PatternTable& table) {
  if constexpr (std::endian::native != std::endian::little) {
    for (std::uint16_t& frame : table.frames) {
      frame = static_cast<std::uint16_t>(frame >> 8 | frame << 8);
    }
  }
}

// Reads exactly `size` bytes into `buffer`.
bool ReadExactly(os::TInputFile& file, std::uint8_t* buffer, std::size_t size,
                 TableFailure& failure) {
  for (std::size_t done = 0; done < size;) {
    const std::optional<std::size_t> got = file.Read(buffer + done, size - done, failure.detail);
    if (!got || *got == 0) {
      failure.kind = got ? Kind::kShrunk : Kind::kUnreadable;
      return false;
    }
    done += *got;
  }
  return true;
}

}  // namespace

std::string TableFailure::Describe() const {
  const std::string needs = "count " + std::to_string(count) + " needs " +
                            std::to_string(4 + 4 * std::uint64_t{count}) + " bytes, there are " +
                            std::to_string(size);
  switch (kind) {
    case Kind::kNone:
      return "no failure";
    case Kind::kUnreadable:
    case Kind::kDirectory:
    case Kind::kNotRegularFile:
      return detail;
    case Kind::kNoCount:
      return std::to_string(size) + " bytes, fewer than the 4 of the count";
    case Kind::kCountTooLarge:
    case Kind::kCountTooSmall:
      return needs;
    case Kind::kShrunk:
      return "the file ended before its " + std::to_string(size) + " bytes";
    case Kind::kOutOfMemory:
      return "no memory for " + std::to_string(count) + " entries";
  }
  return "?";
}

std::optional<PatternTable> ReadTable(std::span<const std::uint8_t> bytes, TableFailure& failure) {
  failure = {};
  if (!SizeFits(bytes.size(), bytes.first(std::min<std::size_t>(bytes.size(), 4)), failure)) {
    return std::nullopt;
  }
  std::optional<PatternTable> table = Allocate(failure.count, failure);
  if (!table) return std::nullopt;
  const std::size_t n = failure.count;
  const std::uint8_t* const frames = bytes.data() + 4;
  std::copy_n(frames, 2 * n, FrameBytes(*table));
  std::copy_n(frames + 2 * n, n, table->textures.begin());
  std::copy_n(frames + 3 * n, n, table->palettes.begin());
  FramesToHostOrder(*table);
  return table;
}

std::optional<PatternTable> ReadTableFile(const std::string& path, TableFailure& failure) {
  failure = {};
  os::TInputFile::TRefusal refusal = os::TInputFile::TRefusal::kCannotOpen;
  os::TInputFile file =
      os::TInputFile::Open(path, os::TInputFile::TKind::kDiskFile, failure.detail, &refusal);
  if (!file.IsOpen()) {
    failure.kind = refusal == os::TInputFile::TRefusal::kDirectory        ? Kind::kDirectory
                   : refusal == os::TInputFile::TRefusal::kNotRegularFile ? Kind::kNotRegularFile
                                                                          : Kind::kUnreadable;
    return std::nullopt;
  }
  // A regular file has a size; the bytes read may not go beyond it.
  failure.size = file.Size().value_or(0);
  std::uint8_t head[4] = {};
  const std::size_t head_size = failure.size < 4 ? static_cast<std::size_t>(failure.size) : 4;
  if (!ReadExactly(file, head, head_size, failure) ||
      !SizeFits(failure.size, {head, head_size}, failure)) {
    return std::nullopt;
  }
  std::optional<PatternTable> table = Allocate(failure.count, failure);
  if (!table) return std::nullopt;
  const std::size_t n = failure.count;
  if (!ReadExactly(file, FrameBytes(*table), 2 * n, failure) ||
      !ReadExactly(file, table->textures.data(), n, failure) ||
      !ReadExactly(file, table->palettes.data(), n, failure)) {
    return std::nullopt;
  }
  FramesToHostOrder(*table);
  return table;
}

}  // namespace morv
