#include "platform/ResourcePath.h"

#include <array>
#include <string_view>

namespace morv::os {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

// The DOS device names, which name a device in every folder. The digits of
// COM and LPT may also be the superscripts ¹ ² ³ (in UTF-8).
bool IsDeviceName(std::string_view name) {
  static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN",    "AUX",
                                                             "NUL", "CONIN$", "CONOUT$"};
  for (const std::string_view device : kPlain) {
    if (EqualsIgnoringCase(name, device)) return true;
  }
  if (name.size() < 4) return false;
  const std::string_view stem = name.substr(0, 3);
  if (!EqualsIgnoringCase(stem, "COM") && !EqualsIgnoringCase(stem, "LPT")) return false;
  const std::string_view digit = name.substr(3);
  if (digit.size() == 1) return digit[0] >= '1' && digit[0] <= '9';
  return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

// True when a path component names a DOS device: its name before the first
// dot, without the spaces before that dot or at the end, and with the dots
// and spaces at the end ignored.
bool IsDeviceComponent(std::string_view component) {
  while (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
    component.remove_suffix(1);
  }
  const std::size_t dot = component.find('.');
  std::string_view name = component.substr(0, dot);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  return IsDeviceName(name);
}

bool HasDeviceComponent(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (IsDeviceComponent(path.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

bool StartsWithDrive(const std::string& id) {
  return id.size() >= 2 && IsLetter(id[0]) && id[1] == ':';
}

bool IsAbsolutePath(const std::string& path) {
  return StartsWithDrive(path) || (!path.empty() && IsSeparator(path[0]));
}

std::size_t FolderLength(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  if (separator != std::string::npos) return separator + 1;
  return StartsWithDrive(path) ? 2 : 0;
}

std::string PathOfUrlPath(std::string url_path) {
  if (url_path.size() >= 3 && IsSeparator(url_path[0]) && IsLetter(url_path[1]) &&
      (url_path[2] == ':' || url_path[2] == '|')) {
    url_path.erase(0, 1);
    url_path[1] = ':';
  }
  return url_path;
}

// Only two kinds of name are let through: a relative path and a drive path
// ("C:\x", "C:/x"). Whatever starts with a separator is something else to the
// system: a share ("\\host", "//host"), the device and object namespaces
// ("\\.\", "\\?\", "\??\", "/??/", GLOBALROOT after any of them), or a
// folder of whatever drive is current. So is a drive without a separator
// after it ("C:x", relative to that drive's current folder), and a colon
// anywhere else (a stream of a file, "x.dtd:s").
std::string RefusalOf(const std::string& path) {
  constexpr const char* kNotLocal = "not a local file";
  std::string_view rest = path;
  if (StartsWithDrive(path)) {
    if (path.size() < 3 || !IsSeparator(path[2])) return kNotLocal;
    rest.remove_prefix(2);
  } else if (!rest.empty() && IsSeparator(rest[0])) {
    return kNotLocal;
  }
  if (rest.find(':') != std::string_view::npos) return kNotLocal;
  if (HasDeviceComponent(rest)) return "a device";
  return {};
}

}  // namespace morv::os
