#include "platform/FileReplacement.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/windows/WideText.h"

// Windows has no unnamed files, no permission bits to keep and no owner to
// give a file away to: the table goes to a named temporary file beside the
// output, which MoveFileExW puts in place.
namespace morv::os {
namespace {

constexpr int kNameAttempts = 16;

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

std::wstring DirectoryOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"/\\");
  if (separator != std::wstring::npos) return path.substr(0, separator + 1);
  // "C:name" is in the drive's current folder.
  if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);
  return std::wstring();
}

// A handle, closed when dropped.
class Handle {
 public:
  explicit Handle(HANDLE handle) noexcept : handle_(handle) {}
  ~Handle() {
    if (IsOpen()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const noexcept { return handle_; }
  bool IsOpen() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Release() noexcept { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

 private:
  HANDLE handle_;
};

// What the file behind `handle` is: its volume and index, and its attributes.
bool Identify(HANDLE handle, ExistingFile& file, DWORD& attributes) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info)) {
    return false;
  }
  file.device = info.dwVolumeSerialNumber;
  file.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  file.attributes = info.dwFileAttributes;
  attributes = info.dwFileAttributes;
  return true;
}

// The final path of the file behind `handle`, through every link.
std::optional<std::wstring> FinalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0) return std::nullopt;
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length);
  }
  return std::nullopt;
}

// A CRT descriptor over `handle`, in binary mode; the descriptor owns it.
int DescriptorOf(Handle& handle, int flags) {
  const int fd =
      ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle.Get()), flags | _O_BINARY);
  if (fd >= 0) handle.Release();
  return fd;
}

// The whole of the file named `name`; nothing when it cannot be read.
std::optional<std::string> ReadAll(const std::wstring& name) {
  const Handle handle(::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!handle.IsOpen() || !::GetFileSizeEx(handle.Get(), &size) || size.QuadPart < 0) {
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD got = 0;
    if (!::ReadFile(handle.Get(), bytes.data() + done, chunk, &got, nullptr) || got == 0) {
      return std::nullopt;
    }
    done += got;
  }
  return bytes;
}

std::FILE* StreamOf(Descriptor& file) {
  std::FILE* const stream = ::_fdopen(file.Get(), "wb");
  if (stream != nullptr) file.Release();
  return stream;
}

}  // namespace

bool Descriptor::Close() noexcept {
  if (fd_ < 0) return true;
  return ::_close(std::exchange(fd_, -1)) == 0;
}

// Only a regular file that may be written, or nothing yet, is replaced. A
// read-only file, a directory, a device (NUL, CON, COM1) or a pipe is left to
// the plain open.
std::optional<Destination> FindDestination(const char* path) {
  const std::optional<std::wstring> wide = windows::WidePath(path);
  if (!wide || wide->empty() || IsSeparator(wide->back())) return std::nullopt;
  const Handle handle(::CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.IsOpen()) {
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return std::nullopt;
    const std::wstring directory = DirectoryOf(*wide);
    return Destination{path, windows::NarrowPath(directory.data(), directory.size()), std::nullopt};
  }
  ExistingFile existing;
  DWORD attributes = 0;
  if (!Identify(handle.Get(), existing, attributes) ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return std::nullopt;
  }
  // A symbolic link stays: its final target is what gets replaced.
  std::wstring target = *wide;
  if ((::GetFileAttributesW(wide->c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    std::optional<std::wstring> final_path = FinalPath(handle.Get());
    if (!final_path) return std::nullopt;
    target = std::move(*final_path);
  }
  const std::wstring directory = DirectoryOf(target);
  return Destination{windows::NarrowPath(target.data(), target.size()),
                     windows::NarrowPath(directory.data(), directory.size()), existing};
}

std::optional<Temporary> Temporary::MakeUnnamed(const Destination&) { return std::nullopt; }

std::optional<Temporary> Temporary::MakeNamed(const Destination& destination) {
  // The replacement keeps the replaced file's attributes (hidden, not
  // indexed, ...).
  const DWORD attributes = destination.existing
                               ? (static_cast<DWORD>(destination.existing->attributes) &
                                  (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)) |
                                     FILE_ATTRIBUTE_NORMAL
                               : FILE_ATTRIBUTE_NORMAL;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    // The directory is empty, a drive ("C:") or ends in a separator.
    std::string name = destination.directory + TemporaryFileName();
    const std::optional<std::wstring> wide = windows::WidePath(name);
    if (!wide) return std::nullopt;
    TCleanupEntry cleanup(name);
    Handle handle(::CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                nullptr, CREATE_NEW, attributes, nullptr));
    if (!handle.IsOpen()) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return std::nullopt;
    }
    Descriptor file(DescriptorOf(handle, _O_RDWR));
    if (!file.IsOpen()) {
      // Opened for sharing deletion: it goes when the handle is closed.
      ::DeleteFileW(wide->c_str());
      return std::nullopt;
    }
    return Temporary(std::move(file), std::move(name), std::move(cleanup));
  }
  return std::nullopt;
}

std::FILE* Temporary::OpenStream() const {
  Descriptor own(::_dup(file_.Get()));
  if (!own.IsOpen()) return nullptr;
  return StreamOf(own);
}

// The file is closed first: a file is moved only when no handle keeps it.
Temporary::Publication Temporary::Publish(const Destination& destination) {
  const std::optional<std::wstring> name = windows::WidePath(name_);
  const std::optional<std::wstring> target = windows::WidePath(destination.path);
  if (!file_.Close() || !name || !target) return Publication::kFailed;
  if (::MoveFileExW(name->c_str(), target->c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    name_.clear();
    cleanup_.Release();
    return Publication::kPlaced;
  }
  // A folder that lets a file be written but not deleted.
  const bool refused = ::GetLastError() == ERROR_ACCESS_DENIED;
  return refused && destination.existing ? Publication::kRefused : Publication::kFailed;
}

// The file is closed once it is published: it is read again by its name.
std::optional<std::string> Temporary::ReadBack() const {
  const std::optional<std::wstring> name = windows::WidePath(name_);
  if (!name) return std::nullopt;
  return ReadAll(*name);
}

void Temporary::Remove() noexcept {
  file_.Close();
  if (name_.empty()) return;
  if (const std::optional<std::wstring> name = windows::WidePath(name_)) {
    ::DeleteFileW(name->c_str());
  }
  name_.clear();
  cleanup_.Release();
}

std::optional<InPlaceFile> InPlaceFile::Open(const Destination& destination) {
  if (!destination.existing) return std::nullopt;
  const std::optional<std::wstring> target = windows::WidePath(destination.path);
  if (!target) return std::nullopt;
  Handle handle(::CreateFileW(target->c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ExistingFile found;
  DWORD attributes = 0;
  if (!handle.IsOpen() || !Identify(handle.Get(), found, attributes) ||
      found.device != destination.existing->device || found.inode != destination.existing->inode ||
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return std::nullopt;
  }
  Descriptor file(DescriptorOf(handle, _O_WRONLY));
  if (!file.IsOpen()) return std::nullopt;
  return InPlaceFile(std::move(file));
}

bool InPlaceFile::Overwrite(std::string_view bytes) {
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file_.Get()));
  LARGE_INTEGER old_size{};
  if (handle == INVALID_HANDLE_VALUE || !::GetFileSizeEx(handle, &old_size)) return false;
  LARGE_INTEGER size{};
  size.QuadPart = static_cast<LONGLONG>(bytes.size());
  // The room for what the file grows by is reserved first (an allocation
  // below the file's size would cut it). A file system that cannot reserve
  // leaves the room to the writes; only a full disk stops here.
  if (size.QuadPart > old_size.QuadPart) {
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize = size;
    if (!::SetFileInformationByHandle(handle, FileAllocationInfo, &allocation, sizeof allocation)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return false;
    }
  }
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD put = 0;
    if (!::WriteFile(handle, bytes.data() + done, chunk, &put, nullptr) || put == 0) return false;
    done += put;
  }
  // What the old file held beyond the new bytes goes.
  if (!::SetFilePointerEx(handle, size, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle)) {
    return false;
  }
  return file_.Close();
}

// A read-only file cannot be written either, whoever asks (Wine run by root
// could).
std::FILE* OpenOther(const char* path) {
  const std::optional<std::wstring> wide = windows::WidePath(path);
  if (!wide || wide->empty()) return nullptr;
  const DWORD attributes = ::GetFileAttributesW(wide->c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return nullptr;
  }
  return ::_wfopen(wide->c_str(), L"wb");
}

}  // namespace morv::os
