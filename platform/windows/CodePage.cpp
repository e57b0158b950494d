#include "platform/CodePage.h"

#include <windows.h>

#include "platform/Unicode.h"

namespace morv::os {
namespace {

// CP932 whatever the system's ANSI code page is: the tool chain's narrow
// strings are CP932 on every system.
constexpr UINT kCodePage = 932;
constexpr char kDefaultChar = '?';

// Appends the CP932 form of [text, text + length), which holds no surrogate.
// Without best-fit mappings a character CP932 lacks becomes "?" instead of a
// look-alike, as on every other system.
void AppendBmp(std::string& out, const char16_t* text, std::size_t length) {
  constexpr std::size_t kChunk = std::size_t{1} << 20;  // well below INT_MAX / 2
  while (length > 0) {
    const std::size_t units = length < kChunk ? length : kChunk;
    // A UTF-16 unit never needs more than two CP932 bytes.
    const std::size_t start = out.size();
    out.resize(start + 2 * units);
    const int written = ::WideCharToMultiByte(
        kCodePage, WC_NO_BEST_FIT_CHARS, reinterpret_cast<const wchar_t*>(text),
        static_cast<int>(units), out.data() + start, static_cast<int>(2 * units), "?", nullptr);
    if (written > 0) {
      out.resize(start + static_cast<std::size_t>(written));
    } else {
      // Without the code page only ASCII survives.
      out.resize(start);
      for (std::size_t i = 0; i < units; ++i) {
        out.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : kDefaultChar);
      }
    }
    text += units;
    length -= units;
  }
}

}  // namespace

void AppendAnsi(std::string& out, const char16_t* text, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    // Plain ASCII is copied as it is.
    std::size_t ascii = done;
    while (ascii < length && text[ascii] < 0x80) ++ascii;
    for (std::size_t i = done; i < ascii; ++i) out.push_back(static_cast<char>(text[i]));
    done = ascii;
    if (done == length) return;
    // Characters beyond the Basic Multilingual Plane are not in CP932, nor is
    // a lone surrogate: each becomes one "?", a pair counting as one.
    if (IsSurrogate(text[done])) {
      const bool pair =
          IsHighSurrogate(text[done]) && done + 1 < length && IsLowSurrogate(text[done + 1]);
      out.push_back(kDefaultChar);
      done += pair ? 2 : 1;
      continue;
    }
    std::size_t end = done;
    while (end < length && text[end] >= 0x80 && !IsSurrogate(text[end])) ++end;
    AppendBmp(out, text + done, end - done);
    done = end;
  }
}

std::string ToAnsi(const char16_t* text) {
  std::string out;
  if (text != nullptr) AppendAnsi(out, text, std::char_traits<char16_t>::length(text));
  return out;
}

}  // namespace morv::os
