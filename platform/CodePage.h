#ifndef MORV_OS_CODEPAGE_H
#define MORV_OS_CODEPAGE_H

#include <cstddef>
#include <string>

namespace morv::os {

// The narrow ("ANSI") code page of the tool chain is CP932: Shift_JIS with
// the Windows extensions. Names, values and texts from the XML parser are
// handed on in it.

// Appends the CP932 form of the first `length` UTF-16 units of `text` to
// `out`. A character CP932 cannot represent (a lone surrogate among them)
// becomes one "?". Plain ASCII is copied without a code-page conversion.
void AppendAnsi(std::string& out, const char16_t* text, std::size_t length);

// The CP932 form of a NUL-terminated UTF-16 string; empty for null.
std::string ToAnsi(const char16_t* text);

}  // namespace morv::os

#endif  // MORV_OS_CODEPAGE_H
