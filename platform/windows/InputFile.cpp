#include "platform/InputFile.h"

#include <windows.h>

#include <utility>

#include "platform/CodePage.h"
#include "platform/windows/WideText.h"

namespace morv::os {
namespace {

HANDLE HandleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

void TInputFile::Close() noexcept {
  if (handle_ != kClosed) ::CloseHandle(HandleOf(std::exchange(handle_, kClosed)));
}

// The file is opened in binary mode through the system itself: no run-time
// library folds CR LF or stops at 0x1A. Backup semantics let a directory be
// opened, so that it is recognised as one instead of failing as "access
// denied". A pipe, a console or another character device is refused where a
// disk file is required, before anything is read from it.
TInputFile TInputFile::Open(const std::string& path, TKind kind, std::string& problem,
                            TRefusal* refusal) {
  const std::optional<std::wstring> wide = windows::WidePath(path);
  if (!wide) {
    return Refused(TRefusal::kCannotOpen, path, "Illegal byte sequence", problem, refusal);
  }
  const HANDLE handle = ::CreateFileW(
      wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return Refused(TRefusal::kCannotOpen, path, windows::ErrorText(::GetLastError()), problem,
                   refusal);
  }
  TInputFile file(reinterpret_cast<std::intptr_t>(handle), std::nullopt);
  const DWORD type = ::GetFileType(handle);
  if (type == FILE_TYPE_DISK) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
      return Refused(TRefusal::kCannotOpen, path, windows::ErrorText(::GetLastError()), problem,
                     refusal);
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return Refused(TRefusal::kDirectory, path, {}, problem, refusal);
    }
    file.size_ = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    file.id_ = {info.dwVolumeSerialNumber,
                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  } else if (kind == TKind::kDiskFile) {
    return Refused(TRefusal::kNotRegularFile, path, {}, problem, refusal);
  }
  return file;
}

std::optional<std::size_t> TInputFile::Read(void* buffer, std::size_t size,
                                            std::string& problem) noexcept {
  constexpr std::size_t kMaxRead = std::size_t{1} << 30;
  DWORD got = 0;
  if (!::ReadFile(HandleOf(handle_), buffer, static_cast<DWORD>(size < kMaxRead ? size : kMaxRead),
                  &got, nullptr)) {
    const DWORD error = ::GetLastError();
    // A pipe whose writer has gone has come to its end.
    if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ||
        error == ERROR_HANDLE_EOF) {
      return 0;
    }
    try {
      problem = "cannot read: " + windows::ErrorText(error);
    } catch (...) {
    }
    return std::nullopt;
  }
  return static_cast<std::size_t>(got);
}

std::string DisplayPath(const std::string& path) {
  const std::optional<std::wstring> wide = windows::WidePath(path);
  if (!wide) return path;
  std::string shown;
  AppendAnsi(shown, reinterpret_cast<const char16_t*>(wide->data()), wide->size());
  return shown;
}

}  // namespace morv::os
