#include "IntermediateFileParser/internal/numbers/PlainTokenScan.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define IFP_SCAN_X86 1
#include <immintrin.h>
#endif

namespace ifp::internal {
namespace {

// Text is read a stage of up to 1024 units at a time: first every chunk of
// 64 units is classified, one bit per unit, then the tokens are found with
// bit scans, and last their values are summed.
constexpr std::size_t kChunk = 64;
constexpr std::size_t kStageChunks = 16;
constexpr std::size_t kStageUnits = kChunk * kStageChunks;

// A plain token has at most eight digits: they are summed as one word.
constexpr unsigned kMaxDigits = 8;

struct TStage {
  std::uint64_t digits[kStageChunks];      // bit i: unit i of the chunk is '0' to '9'
  std::uint64_t separators[kStageChunks];  // bit i: unit i is a tab, line feed or blank
  // Byte i: the value of unit i when it is a digit, anything otherwise (no
  // token that is read holds such a unit). The slack lets a word be read at
  // any unit.
  alignas(32) unsigned char values[kStageUnits + kMaxDigits];
};

// Classifies `count` chunks from `units`: chunk i into digits[i],
// separators[i] and the 64 bytes at values + 64 i.
using TClassify = void (*)(const char16_t* units, std::size_t count, std::uint64_t* digits,
                           std::uint64_t* separators, unsigned char* values);

// Bytes of 0 or 1 into bits: the multiplication moves byte i's bit to bit
// 56 + i. Byte i is the one at address i.
std::uint64_t BitsOfBytes(const unsigned char* const bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word * 0x0102040810204080 >> 56;
}

// Plain loops a compiler can turn into vector code of the target at hand.
void ClassifyPortable(const char16_t* units, const std::size_t count,
                      std::uint64_t* const digits_of, std::uint64_t* const separators_of,
                      unsigned char* const values_of) {
  for (std::size_t chunk = 0; chunk < count; ++chunk, units += kChunk) {
    unsigned char digit[kChunk];
    unsigned char separator[kChunk];
    unsigned char* const values = values_of + chunk * kChunk;
    for (std::size_t i = 0; i < kChunk; ++i) {
      const char16_t unit = units[i];
      const auto value = static_cast<char16_t>(unit - u'0');
      values[i] = static_cast<unsigned char>(value);
      digit[i] = value <= 9;
      separator[i] = unit == u' ' || unit == u'\t' || unit == u'\n';
    }
    std::uint64_t digits = 0;
    std::uint64_t separators = 0;
    for (std::size_t i = 0; i < kChunk; i += 8) {
      digits |= BitsOfBytes(digit + i) << i;
      separators |= BitsOfBytes(separator + i) << i;
    }
    digits_of[chunk] = digits;
    separators_of[chunk] = separators;
  }
}

#ifdef IFP_SCAN_X86

// Packing units into bytes with signed saturation keeps 0 to 0xFF as they
// are and turns every other unit into 0 or 0xFF: digits and separators stay
// recognisable and nothing else can pass for them.
void ClassifySse2(const char16_t* units, const std::size_t count, std::uint64_t* const digits_of,
                  std::uint64_t* const separators_of, unsigned char* const values_of) {
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i line_feed = _mm_set1_epi8('\n');
  for (std::size_t chunk = 0; chunk < count; ++chunk, units += kChunk) {
    std::uint64_t digits = 0;
    std::uint64_t separators = 0;
    for (std::size_t i = 0; i < kChunk; i += 16) {
      const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
      const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i + 8));
      const __m128i bytes = _mm_packus_epi16(low, high);
      const __m128i values = _mm_sub_epi8(bytes, zero);
      _mm_store_si128(reinterpret_cast<__m128i*>(values_of + chunk * kChunk + i), values);
      const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(values, nine), values);
      const __m128i separator =
          _mm_or_si128(_mm_cmpeq_epi8(bytes, blank),
                       _mm_or_si128(_mm_cmpeq_epi8(bytes, tab), _mm_cmpeq_epi8(bytes, line_feed)));
      digits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(digit))} << i;
      separators |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(separator))} << i;
    }
    digits_of[chunk] = digits;
    separators_of[chunk] = separators;
  }
}

// The same 32 units a step. Packing works within 128-bit lanes, so the
// quarters are put back in order. A byte is a separator when it equals the
// entry its low four bits pick from a table holding blank, tab and line feed
// at their own low four bits (and a byte with the high bit set picks 0).
__attribute__((target("avx2"))) void ClassifyAvx2(const char16_t* units, const std::size_t count,
                                                  std::uint64_t* const digits_of,
                                                  std::uint64_t* const separators_of,
                                                  unsigned char* const values_of) {
  const __m256i zero = _mm256_set1_epi8('0');
  const __m256i nine = _mm256_set1_epi8(9);
  const __m256i separator_table =
      _mm256_setr_epi8(' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', -1, -1, -1, -1, -1,  //
                       ' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', -1, -1, -1, -1, -1);
  for (std::size_t chunk = 0; chunk < count; ++chunk, units += kChunk) {
    std::uint64_t digits = 0;
    std::uint64_t separators = 0;
    for (std::size_t i = 0; i < kChunk; i += 32) {
      const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
      const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i + 16));
      const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8);
      const __m256i values = _mm256_sub_epi8(bytes, zero);
      _mm256_store_si256(reinterpret_cast<__m256i*>(values_of + chunk * kChunk + i), values);
      const __m256i digit = _mm256_cmpeq_epi8(_mm256_min_epu8(values, nine), values);
      const __m256i separator =
          _mm256_cmpeq_epi8(_mm256_shuffle_epi8(separator_table, bytes), bytes);
      digits |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(digit))} << i;
      separators |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(separator))} << i;
    }
    digits_of[chunk] = digits;
    separators_of[chunk] = separators;
  }
}

#endif  // IFP_SCAN_X86

// How a token becomes a word of its digit values. An aligned word has the
// token's digits at its top and zeros below them: read as bytes in memory
// order, it is the token with leading zeros. A raw word is the eight values
// from the token's first digit on; the first of them below zero (as a signed
// byte) is the separator after the token, if it is among them. Raw words
// save the work of aligning one token at a time when a sum aligns several
// at once.
enum class TWordKind { kAligned, kRaw };

template <TWordKind kind>
[[gnu::always_inline]] inline std::uint64_t TokenWord(const unsigned char* digits,
                                                      [[maybe_unused]] unsigned count) {
  std::uint64_t word;
  std::memcpy(&word, digits, sizeof word);
  if constexpr (kind == TWordKind::kRaw) return word;
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word << ((0u - 8 * count) & 63);
}

// The value of a token word without a loop: neighbouring digits, pairs and
// quads are combined by multiplication.
std::uint32_t WordValue(std::uint64_t word) {
  word = (word * (std::uint64_t{10} << 8 | 1) >> 8) & 0x00FF00FF00FF00FF;
  word = (word * (std::uint64_t{100} << 16 | 1) >> 16) & 0x0000FFFF0000FFFF;
  return static_cast<std::uint32_t>(word * (std::uint64_t{10000} << 32 | 1) >> 32);
}

// Turns `count` token words into values.
using TSum = void (*)(const std::uint64_t* words, std::size_t count, int* values);

void SumPortable(const std::uint64_t* const words, const std::size_t count, int* const values) {
  for (std::size_t i = 0; i < count; ++i) values[i] = static_cast<int>(WordValue(words[i]));
}

#ifdef IFP_SCAN_X86

// Four words a step. Bytes become pairs of digits, pairs quads and quads
// eight digits, each by a multiply-add of neighbouring 16-bit values; packing
// keeps the quads (below 10000) in 16 bits.
void SumSse2(const std::uint64_t* const words, const std::size_t count, int* const values) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i tens = _mm_set1_epi32(1 << 16 | 10);
  const __m128i hundreds = _mm_set1_epi32(1 << 16 | 100);
  const __m128i ten_thousands = _mm_set1_epi32(1 << 16 | 10000);
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + i));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + i + 2));
    const __m128i pairs0 = _mm_madd_epi16(_mm_unpacklo_epi8(first, zero), tens);
    const __m128i pairs1 = _mm_madd_epi16(_mm_unpackhi_epi8(first, zero), tens);
    const __m128i pairs2 = _mm_madd_epi16(_mm_unpacklo_epi8(second, zero), tens);
    const __m128i pairs3 = _mm_madd_epi16(_mm_unpackhi_epi8(second, zero), tens);
    const __m128i quads01 = _mm_madd_epi16(_mm_packs_epi32(pairs0, pairs1), hundreds);
    const __m128i quads23 = _mm_madd_epi16(_mm_packs_epi32(pairs2, pairs3), hundreds);
    const __m128i sums = _mm_madd_epi16(_mm_packs_epi32(quads01, quads23), ten_thousands);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(values + i), sums);
  }
  SumPortable(words + i, count - i, values + i);
}

// The aligned word of a raw word (on a little-endian machine).
std::uint64_t AlignedWord(const std::uint64_t raw) {
  const std::uint64_t below_zero = raw & 0x8080808080808080;
  const auto bits = static_cast<unsigned>(below_zero == 0 ? 64 : std::countr_zero(below_zero) - 7);
  return bits == 0 ? 0 : (raw & (~std::uint64_t{0} >> (64 - bits))) << (64 - bits);
}

// Four raw words aligned: in each the bytes from the first one below zero
// on are cleared (a mask less one, with the mask's own bits taken out, keeps
// the bits below its lowest set bit), and the word is shifted up by eight
// bits for every byte cleared.
__attribute__((target("avx2"))) __m256i AlignedWords(const __m256i raw) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i below_zero = _mm256_cmpgt_epi8(zero, raw);
  const __m256i keep =
      _mm256_andnot_si256(below_zero, _mm256_sub_epi64(below_zero, _mm256_set1_epi64x(1)));
  const __m256i shift = _mm256_sad_epu8(_mm256_andnot_si256(keep, _mm256_set1_epi8(8)), zero);
  return _mm256_sllv_epi64(_mm256_and_si256(raw, keep), shift);
}

// Eight raw words a step, aligned, then summed with AVX2's multiply-add of
// bytes for the pairs. Packing works within 128-bit lanes, so the quarters
// are put back in order.
__attribute__((target("avx2"))) void SumAvx2(const std::uint64_t* const words,
                                             const std::size_t count, int* const values) {
  const __m256i tens = _mm256_set1_epi16(1 << 8 | 10);
  const __m256i hundreds = _mm256_set1_epi32(1 << 16 | 100);
  const __m256i ten_thousands = _mm256_set1_epi32(1 << 16 | 10000);
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i first =
        AlignedWords(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i)));
    const __m256i second =
        AlignedWords(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i + 4)));
    const __m256i quads0 = _mm256_madd_epi16(_mm256_maddubs_epi16(first, tens), hundreds);
    const __m256i quads1 = _mm256_madd_epi16(_mm256_maddubs_epi16(second, tens), hundreds);
    const __m256i sums = _mm256_madd_epi16(_mm256_packus_epi32(quads0, quads1), ten_thousands);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(values + i),
                        _mm256_permute4x64_epi64(sums, 0xD8));
  }
  for (; i < count; ++i) values[i] = static_cast<int>(WordValue(AlignedWord(words[i])));
}

#endif  // IFP_SCAN_X86

// Bit i: units i to i + 8 of the chunk all belong to one token.
[[gnu::always_inline]] inline std::uint64_t LongRuns(const std::uint64_t in_token) {
  std::uint64_t run = in_token & (in_token >> 1);
  run &= run >> 2;
  run &= run >> 4;
  return run & (in_token >> kMaxDigits);
}

// The lowest `count` (0 to 64) bits.
[[gnu::always_inline]] inline std::uint64_t LowBits(const unsigned count) {
  return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

// Token words are gathered four at a time, so that the loop over a chunk's
// tokens mostly ends after the same number of steps; the last step may
// gather up to three words of tokens that are not there, which the next
// words overwrite or nobody reads.
constexpr std::size_t kStep = 4;

// Writes the words of the `tokens` tokens starting at `starts` in a chunk to
// `words`, which has room for kStep - 1 more. Each token ends at a separator.
template <TWordKind kind>
[[gnu::always_inline]] inline void GatherWords(const unsigned char* const values,
                                               const std::uint64_t separators, std::uint64_t starts,
                                               const std::size_t tokens,
                                               std::uint64_t* const words) {
  for (std::size_t i = 0; i < tokens; i += kStep) {
    for (std::size_t k = 0; k < kStep; ++k) {
      // Past the last token `start` is 64, which reads the slack.
      const auto start = static_cast<unsigned>(std::countr_zero(starts));
      unsigned length = 0;
      if constexpr (kind == TWordKind::kAligned) {
        length = static_cast<unsigned>(std::countr_zero(separators >> (start & 63)));
      }
      words[i + k] = TokenWord<kind>(values + start, length);
      starts &= starts - 1;
    }
  }
}

// How a walk over a stage ended: the words it gathered, the unit where
// reading goes on, and whether the next stage may go on from there.
struct TWalk {
  std::size_t count;
  std::size_t stop;
  bool resume;
};

// Gathers the words of the plain tokens of a classified stage of `chunks`
// chunks, at most `capacity` of them, up to the first token that is not
// plain. A token that a chunk's end cuts is carried into the next chunk.
template <TWordKind kind>
[[gnu::always_inline]] inline TWalk Walk(const TStage& stage, const std::size_t chunks,
                                         std::uint64_t* const words, const std::size_t capacity) {
  std::size_t count = 0;
  unsigned open = 0;  // units of a plain token that the last chunk's end cut
  for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
    const std::size_t base = chunk * kChunk;
    const unsigned char* const values = stage.values + base;
    const std::uint64_t separators = stage.separators[chunk];
    const std::uint64_t in_token = ~separators;
    // Units that make their token not plain: neither digit nor separator,
    // or the ninth of a token.
    const std::uint64_t odd = ~(stage.digits[chunk] | separators) | LongRuns(in_token);
    // The open token goes on up to the first separator.
    const auto head = static_cast<unsigned>(std::countr_zero(separators));
    const unsigned open_length = open == 0 ? 0 : open + head;
    const std::uint64_t starts = in_token & ~(in_token << 1 | std::uint64_t{open != 0});
    // The units of a token that reaches the last unit; it is left open for
    // the next chunk. (When all 64 are, the token is not plain.)
    const auto tail = static_cast<unsigned>(std::countl_zero(separators));
    const std::uint64_t whole = starts & (~std::uint64_t{0} >> (tail & 63));
    const auto tokens = static_cast<std::size_t>(std::popcount(whole));
    if (odd == 0 && open_length <= kMaxDigits && (open != 0) + tokens <= capacity - count)
        [[likely]] {
      // The open token's word is written in any case and counted if there
      // is one.
      words[count] = TokenWord<kind>(values - open, open_length);
      count += open != 0;
      GatherWords<kind>(values, separators, whole, tokens, words + count);
      count += tokens;
      open = tail;
      continue;
    }
    // Something here is not plain, or the room runs out: token by token up
    // to the first that cannot be read.
    if (open != 0) {
      if (open_length > kMaxDigits || (odd & LowBits(head)) != 0 || count == capacity) {
        return {count, base - open, false};
      }
      words[count++] = TokenWord<kind>(values - open, open_length);
      open = 0;
    }
    for (std::uint64_t rest = starts; rest != 0; rest &= rest - 1) {
      const auto start = static_cast<unsigned>(std::countr_zero(rest));
      const std::uint64_t after = separators >> start;
      const unsigned length = after == 0 ? static_cast<unsigned>(kChunk) - start
                                         : static_cast<unsigned>(std::countr_zero(after));
      if (((odd >> start) & LowBits(length)) != 0) return {count, base + start, false};
      if (after == 0) {
        open = length;
        break;
      }
      if (count == capacity) return {count, base + start, false};
      words[count++] = TokenWord<kind>(values + start, length);
    }
  }
  return {count, chunks * kChunk - open, true};
}

// Reads stage after stage.
template <TClassify classify, TSum sum, TWordKind kind>
[[gnu::always_inline]] inline TPlainTokens Scan(const char16_t* text, const char16_t* const end,
                                                int* const out, const std::size_t capacity) {
  // Zeroed, so that the words read past the classified units (of tokens
  // that are not there, and never used) are never made of unset bytes.
  TStage stage{};
  std::uint64_t words[kStageUnits / 2 + kStep];
  std::size_t count = 0;
  while (text != end && count < capacity) {
    const auto units = static_cast<std::size_t>(end - text) < kStageUnits
                           ? static_cast<std::size_t>(end - text)
                           : kStageUnits;
    const std::size_t whole_chunks = units / kChunk;
    classify(text, whole_chunks, stage.digits, stage.separators, stage.values);
    std::size_t chunks = whole_chunks;
    if (units % kChunk != 0) {
      // The last units of the text are copied and followed by units that
      // are neither digits nor separators: a token cut by the end is then
      // not plain.
      char16_t tail[kChunk];
      std::fill(std::copy(text + whole_chunks * kChunk, end, tail), tail + kChunk, u'x');
      classify(tail, 1, stage.digits + chunks, stage.separators + chunks,
               stage.values + chunks * kChunk);
      ++chunks;
    }
    const TWalk walk = Walk<kind>(stage, chunks, words, capacity - count);
    sum(words, walk.count, out + count);
    count += walk.count;
    const char16_t* const next = text + walk.stop;
    if (!walk.resume || text + units == end) return {next, count};
    text = next;
  }
  return {text, count};
}

TPlainTokens ScanPortable(const char16_t* text, const char16_t* end, int* out,
                          std::size_t capacity) {
  return Scan<ClassifyPortable, SumPortable, TWordKind::kAligned>(text, end, out, capacity);
}

#ifdef IFP_SCAN_X86

__attribute__((target("popcnt"))) TPlainTokens ScanSse2(const char16_t* text, const char16_t* end,
                                                        int* out, std::size_t capacity) {
  return Scan<ClassifySse2, SumSse2, TWordKind::kAligned>(text, end, out, capacity);
}

__attribute__((target("avx2,bmi,bmi2,popcnt"))) TPlainTokens ScanAvx2(const char16_t* text,
                                                                      const char16_t* end, int* out,
                                                                      std::size_t capacity) {
  return Scan<ClassifyAvx2, SumAvx2, TWordKind::kRaw>(text, end, out, capacity);
}

#endif  // IFP_SCAN_X86

}  // namespace

bool CanTakeScanPath(const TScanPath path) {
  switch (path) {
    case TScanPath::kPortable:
      return true;
#ifdef IFP_SCAN_X86
    case TScanPath::kSse2:
      return __builtin_cpu_supports("popcnt") != 0;
    case TScanPath::kAvx2:
      return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("bmi") != 0 &&
             __builtin_cpu_supports("bmi2") != 0 && __builtin_cpu_supports("popcnt") != 0;
#else
    case TScanPath::kSse2:
    case TScanPath::kAvx2:
      return false;
#endif
  }
  return false;
}

TScanPath FastestScanPath() {
  static const TScanPath fastest = CanTakeScanPath(TScanPath::kAvx2)   ? TScanPath::kAvx2
                                   : CanTakeScanPath(TScanPath::kSse2) ? TScanPath::kSse2
                                                                       : TScanPath::kPortable;
  return fastest;
}

TPlainTokens ScanPlainTokens(const TScanPath path, const char16_t* const text,
                             const char16_t* const end, int* const out,
                             const std::size_t capacity) {
  switch (path) {
#ifdef IFP_SCAN_X86
    case TScanPath::kSse2:
      return ScanSse2(text, end, out, capacity);
    case TScanPath::kAvx2:
      return ScanAvx2(text, end, out, capacity);
#endif
    default:
      return ScanPortable(text, end, out, capacity);
  }
}

}  // namespace ifp::internal
