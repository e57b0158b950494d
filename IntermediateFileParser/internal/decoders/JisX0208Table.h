#ifndef IFP_INTERNAL_DECODERS_JISX0208TABLE_H
#define IFP_INTERNAL_DECODERS_JISX0208TABLE_H

#include <windows.h>

#include <array>
#include <cstddef>

namespace ifp::internal {

// JIS X 0208 as the tool chain decodes it in every encoding that carries it
// (EUC-JP, ISO-2022-JP): the characters of its Shift_JIS, code page 932, row
// 13 and the IBM extensions in rows 89-92 included, as the ICU-based build
// decodes them. Asked of the system once per process, the first time a
// converter needs them (code page 932 does not change while the process
// runs); U+FFFD where it has no character. Windows only.
class TJisX0208Table {
 public:
  static constexpr unsigned kRows = 94;
  // Shift_JIS with the Windows extensions: the tool chain's code page.
  static constexpr unsigned kCodePage = 932;

  // The table of the process.
  static const TJisX0208Table& Get() {
    static const TJisX0208Table table;
    return table;
  }

  // The character at `row` and `column`, each from 1 to 94.
  char16_t At(unsigned row, unsigned column) const noexcept {
    return characters_[(row - 1) * kRows + column - 1];
  }

  // The Shift_JIS pair of the character at `row` and `column`.
  static std::array<char, 2> ShiftJisOf(unsigned row, unsigned column) {
    const unsigned lead = (row + 1) / 2 + (row <= 62 ? 0x80 : 0xC0);
    const unsigned trail = row % 2 == 1 ? column + (column <= 63 ? 0x3F : 0x40) : column + 0x9E;
    return {static_cast<char>(lead), static_cast<char>(trail)};
  }

  // What the system decodes `bytes` to in `code_page` when they are one
  // character of one UTF-16 unit; else U+FFFD.
  static char16_t Decode(unsigned code_page, const char* bytes, std::size_t length) {
    wchar_t decoded[2] = {};
    const int count = ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes,
                                            static_cast<int>(length), decoded, 2);
    return count == 1 ? static_cast<char16_t>(decoded[0]) : char16_t{0xFFFD};
  }

 private:
  TJisX0208Table() {
    for (unsigned row = 1; row <= kRows; ++row) {
      for (unsigned column = 1; column <= kRows; ++column) {
        const std::array<char, 2> pair = ShiftJisOf(row, column);
        characters_[(row - 1) * kRows + column - 1] = Decode(kCodePage, pair.data(), pair.size());
      }
    }
  }

  std::array<char16_t, kRows * kRows> characters_{};
};

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_DECODERS_JISX0208TABLE_H
