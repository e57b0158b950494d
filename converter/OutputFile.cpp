#include "converter/OutputFile.h"

#include <new>
#include <utility>

namespace morv {

// Which kind of file the bytes go to, and when they are put in place. No
// system call is made here; they are all behind platform/FileReplacement.h.

std::optional<OutputFile> OutputFile::Create(const char* path, std::size_t size, Staging staging) {
  std::optional<os::Destination> destination = os::FindDestination(path);
  if (destination) {
    const auto make_temporary = [&]() -> std::optional<os::Temporary> {
      if (staging == Staging::kUnnamed) {
        if (std::optional<os::Temporary> unnamed = os::Temporary::MakeUnnamed(*destination)) {
          return unnamed;
        }
      }
      return os::Temporary::MakeNamed(*destination);
    };
    if (std::optional<os::Temporary> temporary = make_temporary()) {
      if (std::FILE* const stream = temporary->OpenStream()) {
        return OutputFile(stream, std::move(temporary), std::move(destination), std::nullopt);
      }
    }
    if (destination->existing) {
      std::optional<os::InPlaceFile> in_place = os::InPlaceFile::Open(*destination);
      if (!in_place) return std::nullopt;
      OutputFile output(nullptr, std::nullopt, std::nullopt, std::move(in_place));
      output.held_.reserve(size);
      return output;
    }
  }
  std::FILE* const stream = os::OpenOther(path);
  if (stream == nullptr) return std::nullopt;
  return OutputFile(stream, std::nullopt, std::nullopt, std::nullopt);
}

OutputFile::OutputFile(std::FILE* stream, std::optional<os::Temporary> temporary,
                       std::optional<os::Destination> destination,
                       std::optional<os::InPlaceFile> in_place) noexcept
    : stream_(stream),
      temporary_(std::move(temporary)),
      destination_(std::move(destination)),
      in_place_(std::move(in_place)) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)),
      temporary_(std::exchange(other.temporary_, std::nullopt)),
      destination_(std::exchange(other.destination_, std::nullopt)),
      in_place_(std::exchange(other.in_place_, std::nullopt)),
      held_(std::move(other.held_)) {}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Write(const void* bytes, std::size_t size) {
  if (size == 0) return true;
  if (in_place_) {
    try {
      held_.append(static_cast<const char*>(bytes), size);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  return stream_ != nullptr && std::fwrite(bytes, 1, size, stream_) == size;
}

bool OutputFile::Keep() {
  if (in_place_) {
    const bool written = in_place_->Overwrite(held_);
    in_place_.reset();
    return written;
  }
  std::FILE* const stream = std::exchange(stream_, nullptr);
  if (stream == nullptr) return false;
  bool written = std::ferror(stream) == 0;
  // Data still buffered may only fail now (a full disk, a file-size limit).
  written = std::fclose(stream) == 0 && written;
  if (!temporary_) return written;
  // A named file that was not put in place goes with the temporary.
  const os::Temporary::Publication published =
      written ? temporary_->Publish(*destination_) : os::Temporary::Publication::kFailed;
  if (published != os::Temporary::Publication::kRefused) {
    temporary_.reset();
    return published == os::Temporary::Publication::kPlaced;
  }
  // A writable file whose directory entry may not be replaced is written in
  // place, as when no temporary file can be made beside it, keeping its
  // owner and mode. The temporary file is given up first: the blocks it
  // holds may be what the write needs.
  const std::optional<std::string> table = temporary_->ReadBack();
  temporary_.reset();
  if (!table) return false;
  std::optional<os::InPlaceFile> in_place = os::InPlaceFile::Open(*destination_);
  return in_place && in_place->Overwrite(*table);
}

void OutputFile::Discard() noexcept {
  if (stream_ != nullptr) std::fclose(std::exchange(stream_, nullptr));
  temporary_.reset();
  in_place_.reset();
}

}  // namespace morv
