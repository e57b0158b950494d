#include "converter/OutputFile.h"

#include <utility>

namespace morv {

// Which kind of file the table goes to, and when it is put in place. No
// system call is made here; they are all behind platform/FileReplacement.h.

std::optional<OutputFile> OutputFile::Open(const char* path, Staging staging) {
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
        return OutputFile(stream, std::move(temporary), std::move(destination));
      }
    }
  }
  std::FILE* const stream = os::OpenInPlace(path, destination);
  if (stream == nullptr) return std::nullopt;
  return OutputFile(stream, std::nullopt, std::nullopt);
}

OutputFile::OutputFile(std::FILE* stream, std::optional<os::Temporary> temporary,
                       std::optional<os::Destination> destination) noexcept
    : stream_(stream), temporary_(std::move(temporary)), destination_(std::move(destination)) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)),
      temporary_(std::move(other.temporary_)),
      destination_(std::move(other.destination_)) {
  other.temporary_.reset();
  other.destination_.reset();
}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Commit() {
  std::FILE* const stream = std::exchange(stream_, nullptr);
  bool written = std::ferror(stream) == 0;
  // Data still buffered may only fail now (a full disk, a file-size limit).
  written = std::fclose(stream) == 0 && written;
  if (!temporary_) return written;
  const bool placed = written && temporary_->Publish(*destination_);
  temporary_.reset();  // a named file that was not put in place goes with it
  return placed;
}

void OutputFile::Discard() noexcept {
  if (stream_ != nullptr) std::fclose(std::exchange(stream_, nullptr));
  temporary_.reset();
}

}  // namespace morv
