#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransENameMap.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include "IntermediateFileParser/internal/decoders/Iso2022JpConverter.h"
#include "IntermediateFileParser/internal/decoders/JisX0208Table.h"
#include "IntermediateFileParser/internal/decoders/SjisConverter.h"
#include "IntermediateFileParser/internal/decoders/Win32TableTranscoder.h"

namespace ifp::internal {
namespace {

constexpr XMLCh kWin32ServiceId[] = u"Win32";
// ISO-2022-JP as the system has it (its name in the system's character-set
// database), for encoding.
constexpr unsigned kCodePage = 50220;
// The name the converter gives in its messages.
constexpr XMLCh kShownName[] = u"ISO-2022-JP";

// The spellings documents give ISO-2022-JP that the ICU-based build reads, in
// upper case, as the parser looks names up: ICU's aliases of the converter
// it opens for "ISO-2022-JP", and the name without its hyphens or with
// underscores for them. ("ISO-2022-JP-1", "JIS" and "ISO-2022-JP-2" open
// other converters there.)
constexpr const char* kIso2022JpNames[] = {"ISO-2022-JP", "ISO2022JP",           "ISO_2022_JP",
                                           "CSISO2022JP", "X-WINDOWS-ISO2022JP", "X-WINDOWS-50220"};

// What a byte sequence that is no character decodes to, as on the other
// systems' converter: always the replacement character (the parser reads
// on), never the substitute control character of Shift_JIS and EUC-JP.
constexpr char16_t kReplacement = 0xFFFD;

constexpr XMLByte kEscape = 0x1B;
constexpr XMLByte kShiftOut = 0x0E;
constexpr XMLByte kShiftIn = 0x0F;

// A byte of a JIS X 0208 character.
constexpr bool IsJisByte(unsigned byte) { return byte >= 0x21 && byte <= 0x7E; }

// The character sets an escape sequence designates, which the bytes of the
// characters after it are read in. ASCII first: a document starts in it.
enum class TCharset : std::uint8_t {
  kAscii,
  kRoman,     // JIS X 0201 Roman: ASCII with the yen sign and the overline
  kKanji,     // JIS X 0208, two bytes a character
  kKatakana,  // JIS X 0201 half-width katakana in seven bits
};

// The escape sequences that designate a character set, after the ESC: all
// that the other systems' converter takes for ISO-2022-JP ("ESC ( H" and
// "ESC & @" included).
struct TDesignation {
  std::string_view bytes;
  TCharset charset;
};
constexpr TDesignation kDesignations[] = {{"(B", TCharset::kAscii},   {"(J", TCharset::kRoman},
                                          {"(H", TCharset::kRoman},   {"$@", TCharset::kKanji},
                                          {"$B", TCharset::kKanji},   {"&@", TCharset::kKanji},
                                          {"(I", TCharset::kKatakana}};
// The other escape sequences that converter knows, of the other ISO-2022
// encodings (JIS X 0212, GB 2312, KS C 5601, ISO-8859 sets, ...), after the
// ESC: each decodes whole to one replacement character and designates
// nothing. Any other ESC is a replacement character alone, and the bytes
// after it are read as characters.
constexpr std::string_view kForeignEscapes[] = {
    "O",   "(@",  "(A",  "(C",  "(D",  "(E",  "(F",  "(G",  "(K",  "(R",  "$A",
    "%B",  ".A",  ".F",  "$(@", "$(A", "$(B", "$(C", "$(D", "$(E", "$(G", "$(H",
    "$(I", "$(J", "$(K", "$(L", "$(M", "$)A", "$)C", "$)E", "$)G", "$*H", "$+I",
    "$+J", "$+K", "$+L", "$+M", "%/@", "%/A", "%/C", "%/D", "%/E", "%/F"};

// The escape sequence at an ESC.
struct TEscapeSequence {
  std::size_t size = 0;                       // 0: not complete yet; 1: the ESC alone, no sequence
  const TDesignation* designation = nullptr;  // for a sequence that designates
};

TEscapeSequence EscapeSequenceAt(const XMLByte* bytes, std::size_t left) noexcept {
  for (std::size_t size = 2;; ++size) {
    if (size > left) return {};
    const std::string_view read(reinterpret_cast<const char*>(bytes) + 1, size - 1);
    bool started = false;
    for (const TDesignation& designation : kDesignations) {
      if (designation.bytes == read) return {size, &designation};
      started = started || designation.bytes.starts_with(read);
    }
    for (const std::string_view foreign : kForeignEscapes) {
      if (foreign == read) return {size, nullptr};
      started = started || foreign.starts_with(read);
    }
    if (!started) return {1, nullptr};
  }
}

// ISO-2022-JP as the tool chain decodes it: JIS X 0208 with the characters of
// its Shift_JIS (TJisX0208Table), and every malformed sequence, line end and
// escape sequence as the other systems' converter reads them.
class TIso2022JpTable {
 public:
  // The character set the bytes of the next character are read in.
  using TState = TCharset;

  // The character at `bytes`, read in `state`, and the escape sequence
  // before it, if any (see TWin32TableTranscoder): a character, or an escape
  // sequence, whose bytes have not all arrived waits for them.
  std::size_t Next(TCharset& state, const XMLByte* bytes, std::size_t left,
                   char16_t& c) const noexcept {
    c = kReplacement;
    TCharset charset = state;
    std::size_t designated = 0;  // the bytes of a designation before the character
    if (bytes[0] == kEscape) {
      const TEscapeSequence escape = EscapeSequenceAt(bytes, left);
      // Not complete yet, or a replacement character: the ESC alone, or a
      // sequence of another encoding whole.
      if (escape.size == 0 || escape.designation == nullptr) return escape.size;
      charset = escape.designation->charset;
      designated = escape.size;
      if (designated == left) return 0;  // the character after it has not arrived
      if (bytes[designated] == kEscape) {
        // A designation right after another: the second takes effect, and
        // the empty text between them is one replacement character.
        const TEscapeSequence next = EscapeSequenceAt(bytes + designated, left - designated);
        if (next.size == 0) return 0;
        state = next.designation != nullptr ? next.designation->charset : charset;
        return designated + next.size;
      }
    }
    const std::size_t size = Character(charset, bytes + designated, left - designated, c);
    if (size == 0) return 0;
    state = charset;
    return designated + size;
  }

 private:
  // The character at `bytes`, which is no ESC, in `charset`; a line end
  // leaves JIS X 0208 and the katakana for ASCII.
  std::size_t Character(TCharset& charset, const XMLByte* bytes, std::size_t left,
                        char16_t& c) const noexcept {
    const unsigned first = bytes[0];
    // SO and SI, the shifts of the seven-bit katakana encoding, which
    // ISO-2022-JP lacks.
    if (first == kShiftOut || first == kShiftIn) return 1;
    if ((first == '\r' || first == '\n') && charset != TCharset::kRoman) {
      charset = TCharset::kAscii;
    }
    switch (charset) {
      case TCharset::kAscii:
        if (first < 0x80) c = static_cast<char16_t>(first);
        return 1;
      case TCharset::kRoman:
        if (first < 0x80) {
          c = first == 0x5C ? u'\u00A5' : first == 0x7E ? u'\u203E' : static_cast<char16_t>(first);
        }
        return 1;
      case TCharset::kKatakana:
        if (first >= 0x21 && first <= 0x5F) c = static_cast<char16_t>(0xFF61 + (first - 0x21));
        return 1;
      case TCharset::kKanji:
        break;
    }
    if (left < 2) return 0;
    const unsigned second = bytes[1];
    if (IsJisByte(first) && IsJisByte(second)) {
      c = jis_.At(first - 0x20, second - 0x20);
      return 2;
    }
    // Otherwise one replacement character: for the first byte alone when the
    // second could start a character (it is read again), else for both (a
    // line end after a lone first byte included).
    const bool starts =
        IsJisByte(second) || second == kEscape || second == kShiftOut || second == kShiftIn;
    return starts ? 1 : 2;
  }

  const TJisX0208Table& jis_ = TJisX0208Table::Get();
};

}  // namespace

bool RegisterIso2022JpConverter() {
  const xercesc::XMLTransService* const service = xercesc::XMLPlatformUtils::fgTransService;
  if (service == nullptr || !xercesc::XMLString::equals(service->getId(), kWin32ServiceId) ||
      !::IsValidCodePage(TJisX0208Table::kCodePage)) {
    return false;
  }
  const auto table = std::make_shared<const TIso2022JpTable>();
  for (const char* name : kIso2022JpNames) {
    const std::string upper = UpperCase(name);
    const std::u16string wide(upper.begin(), upper.end());
    // The registry adopts the map and drops one registered before under the
    // same name.
    auto map = std::make_unique<TWin32TableMap<TIso2022JpTable>>(wide.c_str(), kShownName,
                                                                 kCodePage, table);
    const XMLCh* const key = map->getKey();
    xercesc::XMLTransService::addEncoding(key, map.release());
  }
  return true;
}

}  // namespace ifp::internal
