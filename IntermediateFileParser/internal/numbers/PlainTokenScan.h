#ifndef IFP_INTERNAL_NUMBERS_PLAINTOKENSCAN_H
#define IFP_INTERNAL_NUMBERS_PLAINTOKENSCAN_H

#include <cstddef>

namespace ifp::internal {

// The ways a number list's UTF-16 text can be classified, a block of units at
// a time. Every way gives exactly the same results; they differ in speed and
// in the processors that run them.
enum class TScanPath {
  kPortable,  // plain C++, any processor
  kSse2,      // x86-64 SSE2 and POPCNT
  kAvx2,      // x86-64 AVX2
};

// True when this build and this processor can take `path`.
bool CanTakeScanPath(TScanPath path);

// The fastest path this processor can take.
TScanPath FastestScanPath();

// Where a scan of plain tokens stopped and how many values it wrote.
struct TPlainTokens {
  const char16_t* next;
  std::size_t count;
};

// Reads the plain tokens at the start of `text` .. `end`: one to eight ASCII
// digits followed by a tab, line feed or blank, with any run of those three
// separators between them. Writes each token's value to `out`, at most
// `capacity` of them, and stops before the first token that is not plain or
// is not ended by a separator before `end`, or after `capacity` values.
// `next` is then where reading goes on: a token that was not read, the
// separators that follow the last value, or `end`.
TPlainTokens ScanPlainTokens(TScanPath path, const char16_t* text, const char16_t* end, int* out,
                             std::size_t capacity);

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_NUMBERS_PLAINTOKENSCAN_H
