#include "platform/CodePage.h"

#include "platform/Unicode.h"
#include "platform/posix/Cp932Table.h"

namespace morv::os {
namespace {

constexpr char kDefaultChar = '?';

}  // namespace

// The table was made from the system's CP932 converter when the project was
// built: a text is narrowed exactly as that converter narrows it, without
// loading the converter's module into every run that meets a kana.
void AppendAnsi(std::string& out, const char16_t* text, std::size_t length) {
  // A UTF-16 unit never needs more than two CP932 bytes.
  const std::size_t start = out.size();
  out.resize(start + 2 * length);
  char* dest = out.data() + start;
  for (std::size_t i = 0; i < length; ++i) {
    const char16_t unit = text[i];
    if (unit < 0x80) {
      *dest++ = static_cast<char>(unit);
      continue;
    }
    const std::uint16_t entry = cp932::kOfUtf16[unit];
    if (entry == cp932::kNone) {
      // A surrogate pair is one character, and CP932 has none beyond the BMP.
      if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(text[i + 1])) ++i;
      *dest++ = kDefaultChar;
    } else if (entry < 0x100) {
      *dest++ = static_cast<char>(entry);
    } else {
      *dest++ = static_cast<char>(entry >> 8);
      *dest++ = static_cast<char>(entry & 0xFF);
    }
  }
  out.resize(static_cast<std::size_t>(dest - out.data()));
}

std::string ToAnsi(const char16_t* text) {
  std::string out;
  if (text != nullptr) AppendAnsi(out, text, std::char_traits<char16_t>::length(text));
  return out;
}

}  // namespace morv::os
