#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransENameMap.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/Transcoders/Win32/Win32TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include "IntermediateFileParser/internal/decoders/EucJpConverter.h"
#include "IntermediateFileParser/internal/decoders/JisX0208Table.h"
#include "IntermediateFileParser/internal/decoders/SjisConverter.h"
#include "IntermediateFileParser/internal/decoders/Win32TableTranscoder.h"

namespace ifp::internal {
namespace {

constexpr XMLCh kWin32ServiceId[] = u"Win32";
// The code page the half-width katakana are asked of, as the JIS X 0208 pairs
// are (TJisX0208Table): the tool chain's Shift_JIS, whose characters EUC-JP
// shares, so both read alike.
constexpr unsigned kSjisCodePage = TJisX0208Table::kCodePage;
// EUC-JP as the system has it: for JIS X 0212, after 0x8F, where the system
// has it, and for encoding.
constexpr unsigned kCodePage = 20932;
// The name the converter gives in its messages.
constexpr XMLCh kShownName[] = u"EUC-JP";

// The spellings documents give EUC-JP that the ICU-based build reads, in
// upper case, as the parser looks names up.
constexpr const char* kEucJpNames[] = {"EUC-JP",
                                       "EUCJP",
                                       "EUC_JP",
                                       "X-EUC-JP",
                                       "X-EUCJP",
                                       "X_EUC_JP",
                                       "EUCJIS",
                                       "UJIS",
                                       "EUC-JP-2007",
                                       "CSEUCPKDFMTJAPANESE",
                                       "EXTENDED_UNIX_CODE_PACKED_FORMAT_FOR_JAPANESE"};

// What a byte sequence that is no character decodes to, as on the other
// systems' converter: the substitute control character where a byte cannot
// start or continue a character (the parser refuses it), the replacement
// character for a well-formed sequence without a character (it reads on).
constexpr char16_t kSubstitute = 0x1A;
constexpr char16_t kReplacement = 0xFFFD;

constexpr bool IsHigh(unsigned byte) { return byte >= 0xA1 && byte <= 0xFE; }

// The characters of the pairs and triples, asked of the system once, when
// the converter is registered; U+FFFD where it has none.
class TEucJpTable {
 public:
  TEucJpTable() : pairs_(0x100 * 0x100, kReplacement), triples_(0x100 * 0x100, kReplacement) {
    for (unsigned second = 0xA1; second <= 0xDF; ++second) {
      const char katakana[1] = {static_cast<char>(second)};
      pairs_[0x8E00 | second] = TJisX0208Table::Decode(kSjisCodePage, katakana, 1);
    }
    // Three more after 0x8E, as the tool chain's table has them.
    pairs_[0x8EE0] = 0xA2;
    pairs_[0x8EE1] = 0xA3;
    pairs_[0x8EE2] = 0xAC;
    const TJisX0208Table& jis = TJisX0208Table::Get();
    for (unsigned first = 0xA1; first <= 0xFE; ++first) {
      for (unsigned second = 0xA1; second <= 0xFE; ++second) {
        pairs_[first << 8 | second] = jis.At(first - 0xA0, second - 0xA0);
        const char triple[3] = {'\x8F', static_cast<char>(first), static_cast<char>(second)};
        triples_[first << 8 | second] = TJisX0208Table::Decode(kCodePage, triple, 3);
      }
    }
  }

  char16_t Pair(XMLByte first, XMLByte second) const noexcept {
    return pairs_[static_cast<unsigned>(first) << 8 | second];
  }
  // After 0x8F.
  char16_t Triple(XMLByte second, XMLByte third) const noexcept {
    return triples_[static_cast<unsigned>(second) << 8 | third];
  }
  // The character at `bytes` (see TWin32TableTranscoder): a character whose
  // bytes have not all arrived waits for them.
  std::size_t Next(const XMLByte* bytes, std::size_t left, char16_t& c) const noexcept {
    const unsigned first = bytes[0];
    c = kSubstitute;
    if (first < 0x8E || (first >= 0x90 && first <= 0x9F)) {
      c = static_cast<char16_t>(first);
      return 1;
    }
    if (first == 0xA0 || first == 0xFF) return 1;  // no character, alone
    if (left < 2) return 0;
    const unsigned second = bytes[1];
    if (second < 0xA0) return 1;  // the byte after it starts the next character
    if (second == 0xA0 || second == 0xFF) {
      c = kReplacement;
      return 2;
    }
    if (first == 0x8E) {
      if (second > 0xE4) return 1;
      c = second <= 0xE2 ? Pair(bytes[0], bytes[1]) : kReplacement;
      return 2;
    }
    if (first != 0x8F) {
      c = Pair(bytes[0], bytes[1]);
      return 2;
    }
    if (left < 3) return 0;
    if (!IsHigh(bytes[2])) return 1;
    c = Triple(bytes[1], bytes[2]);
    return 3;
  }

 private:
  std::vector<char16_t> pairs_;
  std::vector<char16_t> triples_;
};

}  // namespace

bool RegisterEucJpConverter() {
  const xercesc::XMLTransService* const service = xercesc::XMLPlatformUtils::fgTransService;
  if (service == nullptr || !xercesc::XMLString::equals(service->getId(), kWin32ServiceId) ||
      !::IsValidCodePage(kSjisCodePage) || !::IsValidCodePage(kCodePage)) {
    return false;
  }
  const auto table = std::make_shared<const TEucJpTable>();
  for (const char* name : kEucJpNames) {
    const std::string upper = UpperCase(name);
    const std::u16string wide(upper.begin(), upper.end());
    // The registry adopts the map and drops one registered before under the
    // same name.
    auto map =
        std::make_unique<TWin32TableMap<TEucJpTable>>(wide.c_str(), kShownName, kCodePage, table);
    const XMLCh* const key = map->getKey();
    xercesc::XMLTransService::addEncoding(key, map.release());
  }
  return true;
}

}  // namespace ifp::internal
