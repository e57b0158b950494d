#include "platform/OutputFile.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <random>
#include <set>
#include <utility>

#include "platform/windows/WideText.h"

namespace morv::os {
namespace {

// The temporary files being written, removed by the console control handler
// when the run is interrupted before they are moved into place. The handler
// runs on a thread of its own while the process still lives; the default
// handler after it ends the process.
class TTemporaries {
 public:
  static TTemporaries& Get() {
    static TTemporaries temporaries;
    return temporaries;
  }

  void Add(const std::wstring& path) {
    std::call_once(handler_installed_, [] { ::SetConsoleCtrlHandler(&OnControl, TRUE); });
    const std::lock_guard<std::mutex> lock(mutex_);
    paths_.insert(path);
  }

  void Remove(const std::wstring& path) noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    paths_.erase(path);
  }

 private:
  static BOOL WINAPI OnControl(DWORD) {
    TTemporaries& self = Get();
    const std::lock_guard<std::mutex> lock(self.mutex_);
    // The file may still be open: opened for sharing deletion, it goes when
    // the process closes it.
    for (const std::wstring& path : self.paths_) ::DeleteFileW(path.c_str());
    self.paths_.clear();
    return FALSE;
  }

  std::once_flag handler_installed_;
  std::mutex mutex_;
  std::set<std::wstring> paths_;
};

// What the output path names.
enum class TFound {
  kNothing,   // nothing yet
  kDiskFile,  // a regular file that may be replaced
  kReadOnly,  // a read-only file, which cannot be written
  kOther      // a device, a pipe, a directory, or not known
};

struct TTarget {
  TFound found = TFound::kOther;
  std::wstring path;  // the file to replace: the final target of a link
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
};

TTarget Examine(const std::wstring& path) {
  TTarget target;
  const HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      target.found = TFound::kNothing;
      target.path = path;
    }
    return target;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool disk_file = ::GetFileType(handle) == FILE_TYPE_DISK &&
                         ::GetFileInformationByHandle(handle, &info) &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (disk_file && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    target.found = TFound::kReadOnly;
  } else if (disk_file) {
    target.found = TFound::kDiskFile;
    target.attributes = info.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT);
    target.path = path;
    if ((::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      // A symbolic link stays: its final target is what gets replaced.
      std::wstring final_path(MAX_PATH, L'\0');
      DWORD length = ::GetFinalPathNameByHandleW(handle, final_path.data(),
                                                 static_cast<DWORD>(final_path.size()), 0);
      if (length >= final_path.size()) {
        final_path.resize(length);
        length = ::GetFinalPathNameByHandleW(handle, final_path.data(),
                                             static_cast<DWORD>(final_path.size()), 0);
      }
      if (length == 0 || length >= final_path.size()) {
        target.found = TFound::kOther;
      } else {
        final_path.resize(length);
        target.path = std::move(final_path);
      }
    }
  }
  ::CloseHandle(handle);
  return target;
}

std::wstring DirectoryOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"/\\");
  if (separator != std::wstring::npos) return path.substr(0, separator + 1);
  // "C:name" is in the drive's current folder.
  if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);
  return std::wstring();
}

std::wstring RandomName() {
  static std::random_device device;
  const std::uint64_t bits = (std::uint64_t{device()} << 32) ^ device();
  std::wstring name = L".morv_conv-";
  for (int shift = 60; shift >= 0; shift -= 4)
    name.push_back(L"0123456789abcdef"[(bits >> shift) & 0xF]);
  return name + L".tmp";
}

// A stream in binary mode over a handle open for writing; the stream owns
// the handle. Null (and the handle closed) when there is none to be had.
std::FILE* StreamOf(HANDLE handle) {
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY | _O_WRONLY);
  if (fd < 0) {
    ::CloseHandle(handle);
    return nullptr;
  }
  std::FILE* const stream = ::_fdopen(fd, "wb");
  if (stream == nullptr) ::_close(fd);
  return stream;
}

}  // namespace

std::optional<OutputFile> OutputFile::Open(const char* path) {
  if (std::optional<OutputFile> replacement = OpenReplacement(path)) return replacement;
  const std::optional<std::wstring> wide = windows::WidePath(path);
  // A read-only file cannot be created anew, whoever asks.
  if (!wide || Examine(*wide).found == TFound::kReadOnly) return std::nullopt;
  std::FILE* const stream = ::_wfopen(wide->c_str(), L"wb");
  if (stream == nullptr) return std::nullopt;
  return OutputFile(stream, std::string(), path);
}

std::optional<OutputFile> OutputFile::OpenReplacement(const char* path) {
  const std::optional<std::wstring> wide = windows::WidePath(path);
  if (!wide) return std::nullopt;
  // Only a regular file, or nothing yet, is replaced. What cannot be written
  // at all (a directory, a read-only file) is left to the plain open, which
  // fails as it always has; a device or a pipe is written in place.
  const TTarget target = Examine(*wide);
  if (target.found != TFound::kNothing && target.found != TFound::kDiskFile) return std::nullopt;

  const std::wstring directory = DirectoryOf(target.path);
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::wstring temporary = directory + RandomName();
    const HANDLE handle = ::CreateFileW(
        temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
        (target.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)) | FILE_ATTRIBUTE_NORMAL,
        nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return std::nullopt;
    }
    try {
      TTemporaries::Get().Add(temporary);
    } catch (...) {
      ::CloseHandle(handle);
      ::DeleteFileW(temporary.c_str());
      throw;
    }
    std::FILE* const stream = StreamOf(handle);
    if (stream == nullptr) {
      ::DeleteFileW(temporary.c_str());
      TTemporaries::Get().Remove(temporary);
      return std::nullopt;
    }
    return OutputFile(stream, windows::NarrowPath(temporary.data(), temporary.size()),
                      windows::NarrowPath(target.path.data(), target.path.size()));
  }
  return std::nullopt;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)),
      temporary_(std::move(other.temporary_)),
      target_(std::move(other.target_)) {
  other.temporary_.clear();
}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Commit() {
  std::FILE* const stream = std::exchange(stream_, nullptr);
  bool written = std::ferror(stream) == 0;
  // Data still buffered may only fail now (a full disk).
  written = std::fclose(stream) == 0 && written;
  if (temporary_.empty()) return written;
  const std::wstring temporary =
      windows::WidePath(std::exchange(temporary_, std::string())).value();
  const std::wstring target = windows::WidePath(target_).value();
  const bool moved =
      written && ::MoveFileExW(temporary.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!moved) ::DeleteFileW(temporary.c_str());
  TTemporaries::Get().Remove(temporary);
  return moved;
}

void OutputFile::Discard() noexcept {
  if (stream_ != nullptr) std::fclose(std::exchange(stream_, nullptr));
  if (temporary_.empty()) return;
  const std::optional<std::wstring> temporary =
      windows::WidePath(std::exchange(temporary_, std::string()));
  if (!temporary) return;
  ::DeleteFileW(temporary->c_str());
  TTemporaries::Get().Remove(*temporary);
}

}  // namespace morv::os
