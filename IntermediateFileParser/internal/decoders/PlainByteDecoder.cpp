#include "IntermediateFileParser/internal/decoders/PlainByteDecoder.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <utility>
#include <xercesc/util/XMLException.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ifp::internal {
namespace {

// Room for what one byte may decode to.
constexpr XMLSize_t kProbeRoom = 4;
// The bytes probed: those below 0x80. The transcoders that Probe makes take
// blocks of this size, so that one call may decode all of them.
constexpr unsigned kProbedBytes = 0x80;

}  // namespace

std::optional<TPlainByteDecoder::TPlainBytes> TPlainByteDecoder::TPlainBytes::Probe(
    const XMLCh* delegate_name) {
  xercesc::XMLTransService* const service = xercesc::XMLPlatformUtils::fgTransService;
  if (service == nullptr) return std::nullopt;
  const auto make_delegate = [&] {
    xercesc::XMLTransService::Codes code = xercesc::XMLTransService::Ok;
    return std::unique_ptr<xercesc::XMLTranscoder>(
        service->makeNewTranscoderFor(delegate_name, code, kProbedBytes));
  };
  std::unique_ptr<xercesc::XMLTranscoder> delegate = make_delegate();
  if (delegate == nullptr) return std::nullopt;
  TPlainBytes result;
  unsigned next = 0;
  while (next < kProbedBytes) {
    // The bytes from `next` on that one call decodes as themselves: each of
    // them would decode so alone too, since the bytes before it came back
    // as themselves and left the delegate's state as it was.
    const unsigned run = PlainRun(*delegate, static_cast<unsigned char>(next));
    for (unsigned byte = next; byte < next + run; ++byte) result.plain_[byte] = true;
    next += run;
    if (next == kProbedBytes) break;
    // The byte that ended the run is decided alone, from the initial state;
    // one that did not come back as itself may have left state behind.
    if ((delegate = make_delegate()) == nullptr) return std::nullopt;
    result.plain_[next] = DecodesAsItself(*delegate, static_cast<unsigned char>(next));
    if (!result.plain_[next] && (delegate = make_delegate()) == nullptr) return std::nullopt;
    ++next;
  }
  return result;
}

unsigned TPlainByteDecoder::TPlainBytes::PlainRun(xercesc::XMLTranscoder& delegate,
                                                  unsigned char first) {
  std::array<XMLByte, kProbedBytes> source{};
  const unsigned count = kProbedBytes - first;
  for (unsigned i = 0; i < count; ++i) source[i] = static_cast<XMLByte>(first + i);
  std::array<XMLCh, kProbedBytes> decoded{};
  std::array<unsigned char, kProbedBytes> sizes{};
  XMLSize_t eaten = 0;
  XMLSize_t chars = 0;
  try {
    chars = delegate.transcodeFrom(source.data(), count, decoded.data(), kProbedBytes, eaten,
                                   sizes.data());
  } catch (const xercesc::XMLException&) {
    return 0;  // the bytes are then tried one by one
  }
  unsigned run = 0;
  while (run < chars && run < count && decoded[run] == source[run] && sizes[run] == 1) ++run;
  return run;
}

bool TPlainByteDecoder::TPlainBytes::DecodesAsItself(xercesc::XMLTranscoder& delegate,
                                                     unsigned char byte) {
  const XMLByte source[1] = {byte};
  XMLCh decoded[kProbeRoom] = {};
  unsigned char sizes[kProbeRoom] = {};
  XMLSize_t eaten = 0;
  try {
    const XMLSize_t count = delegate.transcodeFrom(source, 1, decoded, kProbeRoom, eaten, sizes);
    return count == 1 && eaten == 1 && decoded[0] == byte && sizes[0] == 1;
  } catch (const xercesc::XMLException&) {
    return false;  // a byte the delegate refuses is its business
  }
}

TPlainByteDecoder::TPlainByteDecoder(const XMLCh* encoding_name, XMLSize_t block_size,
                                     std::unique_ptr<xercesc::XMLTranscoder> delegate,
                                     const TPlainBytes& plain, std::size_t longest_char,
                                     xercesc::MemoryManager* manager)
    : XMLTranscoder(encoding_name, block_size, manager),
      delegate_(std::move(delegate)),
      plain_(plain),
      trail_bytes_(longest_char > 1 ? longest_char - 1 : 1) {
  assert(delegate_ != nullptr);
  odd_bytes_.fill(0x80);
  std::size_t odd = 0;
  for (unsigned byte = 0; byte < 0x80; ++byte) {
    if (plain_.Contains(static_cast<unsigned char>(byte))) continue;
    if (odd == kMaxOddBytes) {
      bytewise_only_ = true;
      break;
    }
    odd_bytes_[odd++] = static_cast<unsigned char>(byte);
  }
}

TPlainByteDecoder::~TPlainByteDecoder() = default;

std::size_t TPlainByteDecoder::WidenPlainRun(const XMLByte* src, std::size_t count,
                                             XMLCh* out) const noexcept {
  std::size_t done = 0;
#if defined(__SSE2__)
  if (!bytewise_only_) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i odd0 = _mm_set1_epi8(static_cast<char>(odd_bytes_[0]));
    const __m128i odd1 = _mm_set1_epi8(static_cast<char>(odd_bytes_[1]));
    const __m128i odd2 = _mm_set1_epi8(static_cast<char>(odd_bytes_[2]));
    const __m128i odd3 = _mm_set1_epi8(static_cast<char>(odd_bytes_[3]));
    static_assert(kMaxOddBytes == 4);
    for (; count - done >= 16; done += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + done));
      // The top bit of each lane marks a byte that is not plain: one from
      // 0x80 up, or one of the odd bytes below.
      const __m128i odd =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, odd0), _mm_cmpeq_epi8(bytes, odd1)),
                       _mm_or_si128(_mm_cmpeq_epi8(bytes, odd2), _mm_cmpeq_epi8(bytes, odd3)));
      const unsigned stop = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(bytes, odd)));
      // Widened whole: the units from a stop on are left to whatever decodes
      // those bytes next.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done + 8), _mm_unpackhi_epi8(bytes, zero));
      if (stop != 0) return done + static_cast<std::size_t>(std::countr_zero(stop));
    }
  }
#endif
  // The portable path, and the tail of the one above.
  for (; done < count && plain_.Contains(src[done]); ++done) out[done] = src[done];
  return done;
}

const XMLByte* TPlainByteDecoder::SegmentEnd(const XMLByte* begin, const XMLByte* end,
                                             bool after_carry) const noexcept {
  const XMLByte* p = begin + 1;
  // When the delegate may hold a lead byte from the last call, the character
  // it completes must not be the segment's only one: the delegate gives the
  // size of such a character from the offset of the next one, as it does
  // when it decodes the whole buffer.
  if (after_carry && p != end) ++p;
  // The bytes that follow one that is not plain, as many as a character may
  // still need, may complete it or make it an error.
  const XMLByte* last = begin;  // the last byte that is not plain
  for (; p != end; ++p) {
    if (!plain_.Contains(p[-1])) last = p - 1;
    if (static_cast<std::size_t>(p - last) > trail_bytes_) break;
  }
  return p;
}

XMLSize_t TPlainByteDecoder::transcodeFrom(const XMLByte* src_data, XMLSize_t src_count,
                                           XMLCh* to_fill, XMLSize_t max_chars,
                                           XMLSize_t& bytes_eaten, unsigned char* char_sizes) {
  const XMLByte* src = src_data;
  const XMLByte* const end = src_data + src_count;
  XMLSize_t chars = 0;
  while (src != end && chars != max_chars) {
    if (!delegate_first_) {
      const std::size_t run = WidenPlainRun(
          src, std::min<std::size_t>(static_cast<std::size_t>(end - src), max_chars - chars),
          to_fill + chars);
      std::memset(char_sizes + chars, 1, run);
      src += run;
      chars += run;
      if (src == end || chars == max_chars) break;
    }
    const XMLByte* const segment_end = SegmentEnd(src, end, delegate_first_);
    const XMLSize_t room = max_chars - chars;
    XMLSize_t eaten = 0;
    const XMLSize_t got =
        delegate_->transcodeFrom(src, static_cast<XMLSize_t>(segment_end - src), to_fill + chars,
                                 room, eaten, char_sizes + chars);
    // Bytes that the delegate only took into its state (a lead byte at the
    // end of the input) count, as when it decodes the whole input, towards
    // the size of the last character decoded before them.
    if (got == 0 && eaten != 0 && chars != 0) {
      char_sizes[chars - 1] = static_cast<unsigned char>(char_sizes[chars - 1] + eaten);
    }
    src += eaten;
    chars += got;
    // The segment ended on a byte that is not plain (so at the end of the
    // input, maybe on a lead byte), or the room ran out (the delegate may
    // keep what did not fit): the delegate may hold state, and decodes what
    // follows.
    delegate_first_ = src != segment_end || got == room || !plain_.Contains(segment_end[-1]);
    if (delegate_first_) break;
  }
  bytes_eaten = static_cast<XMLSize_t>(src - src_data);
  return chars;
}

XMLSize_t TPlainByteDecoder::transcodeTo(const XMLCh* src_data, XMLSize_t src_count,
                                         XMLByte* to_fill, XMLSize_t max_bytes,
                                         XMLSize_t& chars_eaten, UnRepOpts options) {
  return delegate_->transcodeTo(src_data, src_count, to_fill, max_bytes, chars_eaten, options);
}

bool TPlainByteDecoder::canTranscodeTo(unsigned int to_check) {
  return delegate_->canTranscodeTo(to_check);
}

}  // namespace ifp::internal
