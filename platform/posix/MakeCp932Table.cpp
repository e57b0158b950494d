// Writes the C++ source of morv::os::cp932::kOfUtf16 (see Cp932Table.h)
// from the system's CP932 converter:
//   make_cp932_table <output.cpp>
// Fails, writing nothing, when the converter is missing or maps something
// the table cannot hold: a character beyond the BMP, more than two bytes for
// one unit, an ASCII unit changed, or a non-ASCII unit narrowed to NUL.

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// An iconv conversion descriptor to CP932 from `from`, closed with it.
class Converter {
 public:
  explicit Converter(const char* from) : cd_(iconv_open("CP932", from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The CP932 bytes of `in` as one character, or nothing when CP932 lacks
  // it; false when the converter fails otherwise.
  bool Convert(std::string in, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[16];
    char* src = in.data();
    std::size_t src_left = in.size();
    char* dest = buffer;
    std::size_t dest_left = sizeof buffer;
    out.clear();
    if (iconv(cd_, &src, &src_left, &dest, &dest_left) == static_cast<std::size_t>(-1)) {
      return errno == EILSEQ;
    }
    if (iconv(cd_, nullptr, nullptr, &dest, &dest_left) == static_cast<std::size_t>(-1)) {
      return false;
    }
    out.assign(buffer, static_cast<std::size_t>(dest - buffer));
    return true;
  }

 private:
  iconv_t cd_;
};

std::string Utf16(std::uint32_t unit) {
  const char low = static_cast<char>(unit & 0xFF);
  const char high = static_cast<char>(unit >> 8);
  return std::endian::native == std::endian::little ? std::string{low, high}
                                                    : std::string{high, low};
}

std::string Utf32(std::uint32_t code_point) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) {
    const int shift = std::endian::native == std::endian::little ? 8 * i : 8 * (3 - i);
    bytes[static_cast<std::size_t>(i)] = static_cast<char>((code_point >> shift) & 0xFF);
  }
  return bytes;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "make_cp932_table: %s\n", why.c_str());
  return 1;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", value);
  return text;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) return Fail("usage: make_cp932_table <output.cpp>");
  Converter from_utf16(std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE");
  Converter from_utf32(std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE");
  if (!from_utf16.ok() || !from_utf32.ok()) {
    return Fail("the system has no converter to CP932 (glibc's gconv modules)");
  }

  std::vector<std::uint16_t> table(0x10000, 0);
  std::string bytes;
  for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;  // only ever half of a pair
    if (!from_utf16.Convert(Utf16(unit), bytes)) {
      return Fail("the converter failed on " + Hex(unit));
    }
    if (unit < 0x80) {
      if (bytes != std::string(1, static_cast<char>(unit))) {
        return Fail(Hex(unit) + " is not kept as it is");
      }
      continue;
    }
    if (bytes.size() > 2) return Fail(Hex(unit) + " becomes more than two bytes");
    std::uint16_t entry = 0;
    for (const char byte : bytes) {
      entry = static_cast<std::uint16_t>(entry << 8 | static_cast<unsigned char>(byte));
    }
    if (!bytes.empty() && entry == 0) return Fail(Hex(unit) + " becomes NUL");
    table[unit] = entry;
  }
  for (std::uint32_t code_point = 0x10000; code_point <= 0x10FFFF; ++code_point) {
    if (!from_utf32.Convert(Utf32(code_point), bytes)) {
      return Fail("the converter failed on " + Hex(code_point));
    }
    if (!bytes.empty()) return Fail(Hex(code_point) + ", beyond the BMP, has a CP932 form");
  }

  std::string source =
      "// Made by make_cp932_table from the system's CP932 converter; do not edit.\n"
      "#include \"platform/posix/Cp932Table.h\"\n\n"
      "namespace morv::os::cp932 {\n\n"
      "const std::array<std::uint16_t, 0x10000> kOfUtf16 = {\n";
  char cell[16];
  for (std::size_t unit = 0; unit < table.size(); ++unit) {
    std::snprintf(cell, sizeof cell, "%s0x%X,", unit % 16 == 0 ? "    " : " ", table[unit]);
    source += cell;
    if (unit % 16 == 15) source += '\n';
  }
  source += "};\n\n}  // namespace morv::os::cp932\n";

  // Written under another name and renamed, so that a failed run never
  // leaves half a table for the build to take; a failed write removes what
  // it wrote.
  const std::string path = argv[1];
  const std::string partial = path + ".partial";
  bool written = false;
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << source;
    written = static_cast<bool>(out.flush());
  }
  if (!written || std::rename(partial.c_str(), path.c_str()) != 0) {
    std::remove(partial.c_str());
    return Fail("cannot write " + path);
  }
  return 0;
}
