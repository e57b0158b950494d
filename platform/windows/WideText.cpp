#include "platform/windows/WideText.h"

#include "platform/Unicode.h"

namespace morv::os::windows {

std::optional<std::wstring> WidePath(const std::string& path) {
  std::wstring wide;
  wide.reserve(path.size());
  for (std::size_t i = 0; i < path.size();) {
    const auto lead = static_cast<unsigned char>(path[i]);
    if (lead < 0x80) {
      wide.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    std::size_t length = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      c = lead & 0x1Fu;
      least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      c = lead & 0x0Fu;
      least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      c = lead & 0x07u;
      least = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + length > path.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(path[i + k]);
      if ((next & 0xC0u) != 0x80u) return std::nullopt;
      c = (c << 6) | (next & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF) return std::nullopt;
    AppendUtf16(wide, c);
    i += length;
  }
  return wide;
}

std::string NarrowPath(const wchar_t* text, std::size_t length) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0, units = 0; i < length; i += units) {
    AppendUtf8(out, CodePointAt(text, length, i, units));
  }
  return out;
}

std::string ErrorText(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "Permission denied";
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return "Invalid argument";
    case ERROR_FILENAME_EXCED_RANGE:
      return "File name too long";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "Cannot allocate memory";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "Too many open files";
    default:
      return "system error " + std::to_string(error);
  }
}

}  // namespace morv::os::windows
