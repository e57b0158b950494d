#ifndef MORV_OS_POSIX_CP932TABLE_H
#define MORV_OS_POSIX_CP932TABLE_H

#include <array>
#include <cstdint>

namespace morv::os::cp932 {

// The CP932 form of every UTF-16 code unit, made when the project is built
// from the system's own CP932 converter (glibc's iconv), so that narrowing a
// text loads no converter module at run time and gives the same bytes as
// that converter. An entry is kNone for a unit CP932 lacks (the surrogates
// among them: CP932 has no character beyond the BMP), the byte itself for a
// one-byte character, and lead << 8 | trail for a two-byte one. The units
// below 0x80 are ASCII, which CP932 keeps as it is.
inline constexpr std::uint16_t kNone = 0;
extern const std::array<std::uint16_t, 0x10000> kOfUtf16;

}  // namespace morv::os::cp932

#endif  // MORV_OS_POSIX_CP932TABLE_H
