#include "IntermediateFileParser/PlainTokenScan.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define IFP_SCAN_X86 1
#include <immintrin.h>
#endif

namespace ifp {
namespace {

// Text is classified a chunk of 64 units at a time, one bit per unit.
constexpr std::size_t kChunk = 64;

// A plain token has at most eight digits: they are summed as one word.
constexpr unsigned kMaxDigits = 8;

struct TChunk {
  std::uint64_t digits;      // bit i: unit i is '0' to '9'
  std::uint64_t separators;  // bit i: unit i is a tab, line feed or blank
  // Byte i: the value of unit i when it is a digit, anything otherwise (no
  // token that is read holds such a unit). The slack lets a word be read at
  // any unit.
  alignas(32) unsigned char values[kChunk + kMaxDigits];
};

using TClassify = void (*)(const char16_t* units, TChunk& chunk);

void ClassifyPortable(const char16_t* units, TChunk& chunk) {
  std::uint64_t digits = 0;
  std::uint64_t separators = 0;
  for (std::size_t i = 0; i < kChunk; ++i) {
    const char16_t unit = units[i];
    chunk.values[i] = static_cast<unsigned char>(unit - u'0');
    const bool digit = static_cast<char16_t>(unit - u'0') <= 9;
    const bool separator = unit == u' ' || unit == u'\t' || unit == u'\n';
    digits |= std::uint64_t{digit} << i;
    separators |= std::uint64_t{separator} << i;
  }
  chunk.digits = digits;
  chunk.separators = separators;
}

#ifdef IFP_SCAN_X86

// Packing units into bytes with signed saturation keeps 0 to 0xFF as they
// are and turns every other unit into 0 or 0xFF: digits and separators stay
// recognisable and nothing else can pass for them.
void ClassifySse2(const char16_t* units, TChunk& chunk) {
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i line_feed = _mm_set1_epi8('\n');
  std::uint64_t digits = 0;
  std::uint64_t separators = 0;
  for (std::size_t i = 0; i < kChunk; i += 16) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i + 8));
    const __m128i bytes = _mm_packus_epi16(low, high);
    const __m128i values = _mm_sub_epi8(bytes, zero);
    _mm_store_si128(reinterpret_cast<__m128i*>(chunk.values + i), values);
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(values, nine), values);
    const __m128i separator =
        _mm_or_si128(_mm_cmpeq_epi8(bytes, blank),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, tab), _mm_cmpeq_epi8(bytes, line_feed)));
    digits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(digit))} << i;
    separators |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(separator))} << i;
  }
  chunk.digits = digits;
  chunk.separators = separators;
}

// The same 32 units a step. Packing works within 128-bit lanes, so the
// quarters are put back in order. A byte is a separator when it equals the
// entry its low four bits pick from a table holding blank, tab and line feed
// at their own low four bits (and a byte with the high bit set picks 0).
__attribute__((target("avx2"))) void ClassifyAvx2(const char16_t* units, TChunk& chunk) {
  const __m256i zero = _mm256_set1_epi8('0');
  const __m256i nine = _mm256_set1_epi8(9);
  const __m256i separator_table =
      _mm256_setr_epi8(' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', -1, -1, -1, -1, -1,  //
                       ' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', -1, -1, -1, -1, -1);
  std::uint64_t digits = 0;
  std::uint64_t separators = 0;
  for (std::size_t i = 0; i < kChunk; i += 32) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i + 16));
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8);
    const __m256i values = _mm256_sub_epi8(bytes, zero);
    _mm256_store_si256(reinterpret_cast<__m256i*>(chunk.values + i), values);
    const __m256i digit = _mm256_cmpeq_epi8(_mm256_min_epu8(values, nine), values);
    const __m256i separator = _mm256_cmpeq_epi8(_mm256_shuffle_epi8(separator_table, bytes), bytes);
    digits |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(digit))} << i;
    separators |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(separator))} << i;
  }
  chunk.digits = digits;
  chunk.separators = separators;
}

#endif  // IFP_SCAN_X86

// Classifies the chunk at `text`. The last units of the text are copied and
// followed by units that are neither digits nor separators, so that a token
// cut by the end is not plain.
template <TClassify classify>
void Load(const char16_t* const text, const char16_t* const end, TChunk& chunk) {
  if (static_cast<std::size_t>(end - text) >= kChunk) {
    classify(text, chunk);
    return;
  }
  char16_t tail[kChunk];
  std::fill(std::copy(text, end, tail), tail + kChunk, u'x');
  classify(tail, chunk);
}

// The tokens of a chunk that are read, and where reading goes on.
struct TChunkPlan {
  std::uint64_t starts;  // bit i: a plain token starts at unit i
  unsigned stop;         // the first unit not read (64: the whole chunk is)
  bool resume;           // whether the next chunk may go on from `stop`
};

[[gnu::always_inline]] inline TChunkPlan PlanOf(const TChunk& chunk) {
  const std::uint64_t in_token = ~chunk.separators;
  const std::uint64_t starts = in_token & ~(in_token << 1);
  // Bit i of `long_run`: units i to i + 8 all belong to one token.
  std::uint64_t long_run = in_token & (in_token >> 1);
  long_run &= long_run >> 2;
  long_run &= long_run >> 4;
  long_run &= in_token >> kMaxDigits;
  // A unit that is neither digit nor separator, or the ninth unit of a
  // token, makes its token one that is not plain.
  const std::uint64_t odd = ~(chunk.digits | chunk.separators) | long_run;
  // A token that reaches the last unit may go on in the next chunk.
  const std::uint64_t stoppers = odd | (in_token & std::uint64_t{1} << (kChunk - 1));
  if (stoppers == 0) return {starts, kChunk, true};
  // Reading stops at the start of the token that holds the first stopper.
  const int first = std::countr_zero(stoppers);
  const std::uint64_t up_to_first = starts & ((std::uint64_t{2} << first) - 1);
  const auto stop = static_cast<unsigned>(kChunk - 1 - std::countl_zero(up_to_first));
  return {starts & ((std::uint64_t{1} << stop) - 1), stop, (odd >> stop) == 0};
}

// Where the `n`th token start (counted from 0) of `starts` lies.
unsigned NthStart(std::uint64_t starts, std::size_t n) {
  for (; n != 0; --n) starts &= starts - 1;
  return static_cast<unsigned>(std::countr_zero(starts));
}

// A token's digit values as a word: the `count` (1 to 8) values at `digits`
// moved to its top, zeros below them. Read as bytes in memory order, the
// word is the token with leading zeros.
[[gnu::always_inline]] inline std::uint64_t TokenWord(const unsigned char* digits, unsigned count) {
  std::uint64_t word;
  std::memcpy(&word, digits, sizeof word);
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

// Eight words a step, with AVX2's multiply-add of bytes for the pairs.
// Packing works within 128-bit lanes, so the quarters are put back in order.
__attribute__((target("avx2"))) void SumAvx2(const std::uint64_t* const words,
                                             const std::size_t count, int* const values) {
  const __m256i tens = _mm256_set1_epi16(1 << 8 | 10);
  const __m256i hundreds = _mm256_set1_epi32(1 << 16 | 100);
  const __m256i ten_thousands = _mm256_set1_epi32(1 << 16 | 10000);
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i));
    const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i + 4));
    const __m256i quads0 = _mm256_madd_epi16(_mm256_maddubs_epi16(first, tens), hundreds);
    const __m256i quads1 = _mm256_madd_epi16(_mm256_maddubs_epi16(second, tens), hundreds);
    const __m256i sums = _mm256_madd_epi16(_mm256_packus_epi32(quads0, quads1), ten_thousands);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(values + i),
                        _mm256_permute4x64_epi64(sums, 0xD8));
  }
  SumPortable(words + i, count - i, values + i);
}

#endif  // IFP_SCAN_X86

// Token words are gathered four at a time, so that the loop over a chunk's
// tokens mostly ends after the same number of steps; the last step may
// gather up to three words of tokens that are not there, which the next
// chunk's words overwrite or nobody reads.
constexpr std::size_t kStep = 4;

// Words gathered before they are summed: enough to keep summing cheap, few
// enough to stay in the first-level cache.
constexpr std::size_t kStage = 512;

// Writes the words of the tokens starting at `starts` to `words`, which has
// room for kStep - 1 more.
[[gnu::always_inline]] inline void GatherWords(const TChunk& chunk, std::uint64_t starts,
                                               std::uint64_t* const words) {
  const auto tokens = static_cast<std::size_t>(std::popcount(starts));
  for (std::size_t i = 0; i < tokens; i += kStep) {
    for (std::size_t k = 0; k < kStep; ++k) {
      // Past the last token `start` is 64, which reads the slack.
      const auto start = static_cast<unsigned>(std::countr_zero(starts));
      const auto length = static_cast<unsigned>(std::countr_zero(chunk.separators >> (start & 63)));
      words[i + k] = TokenWord(chunk.values + start, length);
      starts &= starts - 1;
    }
  }
}

// Reads chunk after chunk, up to kStage tokens; the next chunk is
// classified before the tokens of the current one are gathered, which keeps
// the two kinds of work overlapping. The words are summed at the end.
template <TClassify classify, TSum sum>
[[gnu::always_inline]] inline TPlainTokens ScanStage(const char16_t* text,
                                                     const char16_t* const end, int* const out,
                                                     const std::size_t capacity) {
  if (text == end || capacity == 0) return {text, 0};
  std::uint64_t words[kStage + kStep - 1];
  TChunk chunks[2];
  unsigned current = 0;
  Load<classify>(text, end, chunks[current]);
  std::size_t count = 0;
  for (;;) {
    const TChunk& chunk = chunks[current];
    TChunkPlan plan = PlanOf(chunk);
    auto tokens = static_cast<std::size_t>(std::popcount(plan.starts));
    if (tokens > capacity - count) {
      tokens = capacity - count;
      plan.stop = NthStart(plan.starts, tokens);
      plan.starts &= (std::uint64_t{1} << plan.stop) - 1;
    }
    const char16_t* const next = text + plan.stop;
    const bool more = plan.resume && next != end && count + tokens < capacity;
    if (more) Load<classify>(next, end, chunks[current ^ 1]);
    GatherWords(chunk, plan.starts, words + count);
    count += tokens;
    if (!more) {
      sum(words, count, out);
      return {next, count};
    }
    text = next;
    current ^= 1;
  }
}

template <TClassify classify, TSum sum>
[[gnu::always_inline]] inline TPlainTokens Scan(const char16_t* text, const char16_t* const end,
                                                int* const out, const std::size_t capacity) {
  std::size_t count = 0;
  for (;;) {
    const std::size_t stage = capacity - count < kStage ? capacity - count : kStage;
    const TPlainTokens part = ScanStage<classify, sum>(text, end, out + count, stage);
    count += part.count;
    text = part.next;
    if (part.count < stage || count == capacity) return {text, count};
  }
}

TPlainTokens ScanPortable(const char16_t* text, const char16_t* end, int* out,
                          std::size_t capacity) {
  return Scan<ClassifyPortable, SumPortable>(text, end, out, capacity);
}

#ifdef IFP_SCAN_X86

TPlainTokens ScanSse2(const char16_t* text, const char16_t* end, int* out, std::size_t capacity) {
  return Scan<ClassifySse2, SumSse2>(text, end, out, capacity);
}

__attribute__((target("avx2,bmi,bmi2"))) TPlainTokens ScanAvx2(const char16_t* text,
                                                               const char16_t* end, int* out,
                                                               std::size_t capacity) {
  return Scan<ClassifyAvx2, SumAvx2>(text, end, out, capacity);
}

#endif  // IFP_SCAN_X86

}  // namespace

bool CanTakeScanPath(const TScanPath path) {
  switch (path) {
    case TScanPath::kPortable:
      return true;
#ifdef IFP_SCAN_X86
    case TScanPath::kSse2:
      return true;
    case TScanPath::kAvx2:
      return __builtin_cpu_supports("avx2") != 0;
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

}  // namespace ifp
