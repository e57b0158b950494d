#include "platform/CodePage.h"

#include <iconv.h>

#include <bit>
#include <cerrno>

namespace morv::os {
namespace {

constexpr char kDefaultChar = '?';

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// One iconv conversion descriptor from host-order UTF-16 to CP932, opened on
// first use by each thread and closed when the thread ends. Opening it loads
// a converter module, so documents that are all ASCII never pay for it.
class Utf16ToCp932 {
 public:
  Utf16ToCp932()
      : cd_(iconv_open("CP932",
                       std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE")) {}
  ~Utf16ToCp932() {
    if (ok()) iconv_close(cd_);
  }
  Utf16ToCp932(const Utf16ToCp932&) = delete;
  Utf16ToCp932& operator=(const Utf16ToCp932&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts `length` units, each character CP932 lacks becoming one "?".
  void Append(std::string& out, const char16_t* text, std::size_t length) {
    if (!ok()) {
      AppendWithoutConverter(out, text, length);
      return;
    }
    // A UTF-16 unit never needs more than two CP932 bytes.
    const std::size_t start = out.size();
    out.resize(start + 2 * length);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(text));
    std::size_t in_left = 2 * length;
    char* dest = out.data() + start;
    std::size_t dest_left = 2 * length;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    while (in_left > 0) {
      if (iconv(cd_, &in, &in_left, &dest, &dest_left) != static_cast<std::size_t>(-1)) break;
      if (errno != EILSEQ && errno != EINVAL) break;  // E2BIG cannot happen: see above
      // Skip the character CP932 lacks: a surrogate pair counts as one.
      const char16_t* unit = reinterpret_cast<const char16_t*>(in);
      std::size_t skip = 1;
      if (in_left >= 4 && IsHighSurrogate(unit[0]) && IsLowSurrogate(unit[1])) skip = 2;
      in += 2 * skip;
      in_left -= 2 * skip;
      *dest++ = kDefaultChar;
      --dest_left;
    }
    out.resize(static_cast<std::size_t>(dest - out.data()));
  }

 private:
  // Without a converter only ASCII survives.
  static void AppendWithoutConverter(std::string& out, const char16_t* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
      if (text[i] < 0x80) {
        out.push_back(static_cast<char>(text[i]));
      } else {
        if (IsHighSurrogate(text[i]) && i + 1 < length && IsLowSurrogate(text[i + 1])) ++i;
        out.push_back(kDefaultChar);
      }
    }
  }

  iconv_t cd_;
};

}  // namespace

void AppendAnsi(std::string& out, const char16_t* text, std::size_t length) {
  std::size_t ascii = 0;
  while (ascii < length && text[ascii] < 0x80) ++ascii;
  const std::size_t start = out.size();
  out.resize(start + ascii);
  for (std::size_t i = 0; i < ascii; ++i) out[start + i] = static_cast<char>(text[i]);
  if (ascii == length) return;
  thread_local Utf16ToCp932 converter;
  converter.Append(out, text + ascii, length - ascii);
}

std::string ToAnsi(const char16_t* text) {
  std::string out;
  if (text != nullptr) AppendAnsi(out, text, std::char_traits<char16_t>::length(text));
  return out;
}

}  // namespace morv::os
