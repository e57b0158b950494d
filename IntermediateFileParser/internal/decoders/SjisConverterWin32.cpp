#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransENameMap.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/Transcoders/Win32/Win32TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include "IntermediateFileParser/internal/decoders/SjisConverter.h"
#include "IntermediateFileParser/internal/decoders/Win32TableTranscoder.h"

namespace ifp::internal {
namespace {

// The id of the transcoding service built on the system's code pages.
constexpr XMLCh kWin32ServiceId[] = u"Win32";
// Shift_JIS with the Windows extensions: the tool chain's code page.
constexpr unsigned kCodePage = 932;
// The name under which the converter is made for the decoders in front of
// it. The service knows its names from the system's character-set database,
// which varies between systems and lacks several names documents use; this
// one is the converter's own, so that every other name can be given to the
// decoders.
constexpr XMLCh kDelegateName[] = u"X-MORV-CP932";
// The name the converter gives in its messages.
constexpr XMLCh kShownName[] = u"Shift_JIS";

// What a byte sequence that is no character decodes to, as on the other
// systems' converter: the substitute control character for a byte that is
// no character by itself or a lead byte without a trail byte (which the
// parser then refuses as a character XML does not allow), and the
// replacement character for a well-formed pair the code page leaves
// unassigned (which reads on).
constexpr char16_t kSubstitute = 0x1A;
constexpr char16_t kReplacement = 0xFFFD;

constexpr bool IsLeadByte(unsigned byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
constexpr bool IsTrailByte(unsigned byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}
constexpr std::size_t kLeadBytes = (0x9F - 0x81 + 1) + (0xFC - 0xE0 + 1);

// The code page as the tool chain decodes it, asked of the system once, when
// the converter is registered. The structure is Shift_JIS's own on every
// system: the lead and trail bytes above; 0x80, 0xA0 and 0xFD-0xFF are no
// characters, whatever the system maps them to; the control characters at
// 0x1A, 0x1C and 0x7F are exchanged (0x1A gives U+001C, 0x1C gives U+007F,
// 0x7F gives U+001A) as the tool chain's table has them. Which pairs are
// characters, and which, comes from the system.
class TCp932Table {
 public:
  TCp932Table() {
    unsigned leads = 0;
    for (unsigned byte = 0; byte < 0x100; ++byte) {
      if (IsLeadByte(byte)) {
        lead_index_[byte] = static_cast<std::uint8_t>(++leads);
      } else {
        const char bytes[1] = {static_cast<char>(byte)};
        single_[byte] = DecodeOrSubstitute(bytes, kSubstitute);
      }
    }
    for (const unsigned byte : {0x80u, 0xA0u, 0xFDu, 0xFEu, 0xFFu}) single_[byte] = kSubstitute;
    single_[0x1A] = 0x1C;
    single_[0x1C] = 0x7F;
    single_[0x7F] = 0x1A;
    pairs_.assign(kLeadBytes * 0x100, kSubstitute);
    for (unsigned lead = 0; lead < 0x100; ++lead) {
      if (!IsLeadByte(lead)) continue;
      for (unsigned trail = 0; trail < 0x100; ++trail) {
        if (!IsTrailByte(trail)) continue;
        const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        pairs_[Index(lead, trail)] = DecodeOrSubstitute(bytes, kReplacement);
      }
    }
  }

  bool IsLead(XMLByte byte) const noexcept { return lead_index_[byte] != 0; }
  char16_t Single(XMLByte byte) const noexcept { return single_[byte]; }
  // For a lead byte; kSubstitute when `trail` is no trail byte.
  char16_t Pair(XMLByte lead, XMLByte trail) const noexcept { return pairs_[Index(lead, trail)]; }

  // The character at `bytes` (see TWin32TableTranscoder): a lead byte last
  // in the input waits for its trail byte.
  std::size_t Next(const XMLByte* bytes, std::size_t left, char16_t& c) const noexcept {
    if (!IsLead(bytes[0])) {
      c = Single(bytes[0]);
      return 1;
    }
    if (left < 2) return 0;
    if (IsTrailByte(bytes[1])) {
      c = Pair(bytes[0], bytes[1]);
      return 2;
    }
    // The byte after it starts the next character.
    c = kSubstitute;
    return 1;
  }

 private:
  std::size_t Index(unsigned lead, unsigned trail) const noexcept {
    return (lead_index_[lead] - 1u) * 0x100u + trail;
  }

  // What the system decodes `bytes` to when they are one character of one
  // UTF-16 unit; else `otherwise`.
  template <std::size_t kLength>
  static char16_t DecodeOrSubstitute(const char (&bytes)[kLength], char16_t otherwise) {
    wchar_t decoded[2] = {};
    const int count = ::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes,
                                            static_cast<int>(kLength), decoded, 2);
    return count == 1 ? static_cast<char16_t>(decoded[0]) : otherwise;
  }

  std::array<std::uint8_t, 0x100> lead_index_{};  // 0, or 1 + the lead byte's row
  std::array<char16_t, 0x100> single_{};
  std::vector<char16_t> pairs_;  // a row of 256 per lead byte
};

}  // namespace

// The converter for code page 932, under the usual spellings of Shift_JIS
// and the names the system's database gives it on Windows ("csWindows31J",
// "windows-932"), whether or not the database of this system has them: a
// document reads the same on every Windows, and as on the other systems.
std::optional<TSjisConverter> FindSjisConverter() {
  const xercesc::XMLTransService* const service = xercesc::XMLPlatformUtils::fgTransService;
  if (service == nullptr || !xercesc::XMLString::equals(service->getId(), kWin32ServiceId) ||
      !::IsValidCodePage(kCodePage)) {
    return std::nullopt;
  }
  // The registry adopts the map and drops one registered before.
  auto map = std::make_unique<TWin32TableMap<TCp932Table>>(kDelegateName, kShownName, kCodePage,
                                                           std::make_shared<const TCp932Table>());
  const XMLCh* const key = map->getKey();
  xercesc::XMLTransService::addEncoding(key, map.release());
  TSjisConverter found{kDelegateName, {}};
  for (const char* name : kUsualSjisNames) found.names.insert(UpperCase(name));
  found.names.insert("CSWINDOWS31J");
  found.names.insert("WINDOWS-932");
  return found;
}

}  // namespace ifp::internal
