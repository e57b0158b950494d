#ifndef MORV_OS_WINDOWS_WIDETEXT_H
#define MORV_OS_WINDOWS_WIDETEXT_H

#include <windows.h>

#include <optional>
#include <string>

namespace morv::os::windows {

// Paths travel through the program as the UTF-8 form of their UTF-16 names.
// A lone surrogate, which a Windows file name may hold, takes the three-byte
// form UTF-8 would give it, so every name comes back as it was.

// The UTF-16 form of a path; nothing when the bytes are not such a form.
std::optional<std::wstring> WidePath(const std::string& path);

// The UTF-8 form of `length` UTF-16 units.
std::string NarrowPath(const wchar_t* text, std::size_t length);

// A system error as a short text, worded as on POSIX systems for the errors
// that have a counterpart there ("No such file or directory").
std::string ErrorText(DWORD error);

}  // namespace morv::os::windows

#endif  // MORV_OS_WINDOWS_WIDETEXT_H
