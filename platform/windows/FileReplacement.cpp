#include "platform/FileReplacement.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <random>
#include <utility>

#include "platform/windows/WideText.h"

// Windows has no unnamed files, no permission bits to keep and no owner to
// give a file away to: the table goes to a named temporary file beside the
// output, which MoveFileExW puts in place. Ctrl-C, Ctrl-Break and the console
// closing are the "signals": a console control handler removes the named
// temporary files before the process ends as it would have.
namespace morv::os {
namespace {

constexpr int kNameAttempts = 16;

// The temporary files that the console control handler removes. The
// handler runs on a thread of its own while the rest of the process goes on,
// so a slot's path is complete before the slot is armed, and the handler
// reads nothing but armed slots.
constexpr std::size_t kLongestPath = 32768;  // in UTF-16 units, with the NUL
struct CleanupSlot {
  std::array<wchar_t, kLongestPath> path{};
  std::atomic<bool> taken{false};
  std::atomic<bool> armed{false};
};
std::array<CleanupSlot, 4> g_cleanup_slots;

int Register(const std::wstring& path) {
  if (path.size() >= kLongestPath) return -1;
  for (std::size_t i = 0; i < g_cleanup_slots.size(); ++i) {
    CleanupSlot& slot = g_cleanup_slots[i];
    bool expected = false;
    if (!slot.taken.compare_exchange_strong(expected, true)) continue;
    std::memcpy(slot.path.data(), path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    slot.armed.store(true, std::memory_order_release);
    return static_cast<int>(i);
  }
  return -1;
}

void Unregister(int slot) noexcept {
  if (slot < 0) return;
  g_cleanup_slots[static_cast<std::size_t>(slot)].armed.store(false, std::memory_order_release);
  g_cleanup_slots[static_cast<std::size_t>(slot)].taken.store(false, std::memory_order_release);
}

// Removes the temporary files and lets the next handler (the system's: the
// process ends) act on the event. A file still open goes once it is closed,
// which the end of the process does: it is opened for sharing deletion.
BOOL WINAPI RemoveTemporaries(DWORD) {
  for (const CleanupSlot& slot : g_cleanup_slots) {
    if (slot.armed.load(std::memory_order_acquire)) ::DeleteFileW(slot.path.data());
  }
  return FALSE;
}

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

std::wstring DirectoryOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"/\\");
  if (separator != std::wstring::npos) return path.substr(0, separator + 1);
  // "C:name" is in the drive's current folder.
  if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);
  return std::wstring();
}

std::wstring TemporaryName(const std::wstring& directory) {
  static std::random_device device;
  const std::uint64_t bits = (std::uint64_t{device()} << 32) ^ device();
  std::wstring name = directory + L".morv_conv-";
  for (int shift = 60; shift >= 0; shift -= 4) {
    name.push_back(L"0123456789abcdef"[(bits >> shift) & 0xF]);
  }
  return name + L".tmp";
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
  file.mode = info.dwFileAttributes;
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
  const std::optional<std::wstring> directory = windows::WidePath(destination.directory);
  if (!directory) return std::nullopt;
  // The replacement keeps the replaced file's attributes (hidden, not
  // indexed, ...), which is what stands for its mode here.
  const DWORD attributes = destination.existing
                               ? (static_cast<DWORD>(destination.existing->mode) &
                                  (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)) |
                                     FILE_ATTRIBUTE_NORMAL
                               : FILE_ATTRIBUTE_NORMAL;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::wstring name = TemporaryName(*directory);
    const int slot = Register(name);
    Handle handle(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                nullptr, CREATE_NEW, attributes, nullptr));
    if (!handle.IsOpen()) {
      const DWORD error = ::GetLastError();
      Unregister(slot);
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return std::nullopt;
    }
    Descriptor file(DescriptorOf(handle, _O_RDWR));
    if (!file.IsOpen()) {
      // Opened for sharing deletion: it goes when the handle is closed.
      ::DeleteFileW(name.c_str());
      Unregister(slot);
      return std::nullopt;
    }
    Temporary temporary(std::move(file), windows::NarrowPath(name.data(), name.size()));
    temporary.slot_ = slot;
    return temporary;
  }
  return std::nullopt;
}

std::FILE* Temporary::OpenStream() const {
  Descriptor own(::_dup(file_.Get()));
  if (!own.IsOpen()) return nullptr;
  return StreamOf(own);
}

// The file is closed first: a file is moved only when no handle keeps it.
bool Temporary::Publish(const Destination& destination) {
  const std::optional<std::wstring> name = windows::WidePath(name_);
  const std::optional<std::wstring> target = windows::WidePath(destination.path);
  if (!file_.Close() || !name || !target) {
    Remove();
    return false;
  }
  if (::MoveFileExW(name->c_str(), target->c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    name_.clear();
    Unregister(std::exchange(slot_, -1));
    return true;
  }
  // A writable file that may not be replaced (its folder lets it be written
  // but not deleted) is written in place, as when no temporary file can be
  // made beside it. This file is given up first: the room it takes may be
  // what the write needs.
  const bool refused = ::GetLastError() == ERROR_ACCESS_DENIED;
  std::optional<std::string> table;
  if (refused && destination.existing) table = ReadAll(*name);
  Remove();
  if (!table) return false;
  std::optional<InPlaceFile> in_place = InPlaceFile::Open(destination);
  return in_place && in_place->Overwrite(*table);
}

void Temporary::Remove() noexcept {
  file_.Close();
  if (name_.empty()) return;
  if (const std::optional<std::wstring> name = windows::WidePath(name_)) {
    ::DeleteFileW(name->c_str());
  }
  name_.clear();
  Unregister(std::exchange(slot_, -1));
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

void PrepareSignals() { ::SetConsoleCtrlHandler(&RemoveTemporaries, TRUE); }

}  // namespace morv::os
