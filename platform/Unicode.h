#ifndef MORV_OS_UNICODE_H
#define MORV_OS_UNICODE_H

#include <cstddef>
#include <string>

// Unicode text as the platform layer and the reader pass it on: UTF-16 from
// the parser and from Windows, UTF-8 in paths.
namespace morv::os {

constexpr bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// The code point at `text[i]` of `length` UTF-16 units (char16_t or
// wchar_t), and in `units` how many units it takes: a surrogate pair is one
// code point, a lone surrogate stands for itself.
template <class Unit>
char32_t CodePointAt(const Unit* text, std::size_t length, std::size_t i, std::size_t& units) {
  const char32_t c = static_cast<char16_t>(text[i]);
  units = 1;
  if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(static_cast<char16_t>(text[i + 1]))) {
    units = 2;
    return 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(text[i + 1]) - 0xDC00);
  }
  return c;
}

// Appends the UTF-16 form of code point `c` (at most U+10FFFF) to a string of
// char16_t or wchar_t.
template <class String>
void AppendUtf16(String& out, char32_t c) {
  using Unit = typename String::value_type;
  if (c >= 0x10000) {
    c -= 0x10000;
    out.push_back(static_cast<Unit>(0xD800 + (c >> 10)));
    out.push_back(static_cast<Unit>(0xDC00 + (c & 0x3FF)));
  } else {
    out.push_back(static_cast<Unit>(c));
  }
}

// Appends the UTF-8 form of code point `c` (at most U+10FFFF). A surrogate
// code point gets the three-byte form it would have if it were a character,
// so that a caller that lets lone surrogates through can bring them back.
inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace morv::os

#endif  // MORV_OS_UNICODE_H
