#include <windows.h>

#include <memory>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransENameMap.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/Transcoders/Win32/Win32TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include "IntermediateFileParser/internal/decoders/SjisConverter.h"

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

// Makes the system's converter for code page 932 under the delegate's name.
class TCodePageMap final : public xercesc::ENameMap {
 public:
  TCodePageMap() : ENameMap(kDelegateName) {}

  xercesc::XMLTranscoder* makeNew(XMLSize_t block_size,
                                  xercesc::MemoryManager* manager) const override {
    // The parser adopts the converter; it was made with `manager`, which
    // deletes it.
    return new (manager) xercesc::Win32Transcoder(kShownName, kCodePage, block_size, manager);
  }
};

}  // namespace

// The system's converter for code page 932, under the usual spellings of
// Shift_JIS and the names the system's database gives it on Windows
// ("csWindows31J", "windows-932"), whether or not the database of this
// system has them: a document reads the same on every Windows.
std::optional<TSjisConverter> FindSjisConverter() {
  const xercesc::XMLTransService* const service = xercesc::XMLPlatformUtils::fgTransService;
  if (service == nullptr || !xercesc::XMLString::equals(service->getId(), kWin32ServiceId) ||
      !::IsValidCodePage(kCodePage)) {
    return std::nullopt;
  }
  // The registry adopts the map and drops one registered before.
  auto map = std::make_unique<TCodePageMap>();
  const XMLCh* const key = map->getKey();
  xercesc::XMLTransService::addEncoding(key, map.release());
  TSjisConverter found{kDelegateName, {}};
  for (const char* name : kUsualSjisNames) found.names.insert(UpperCase(name));
  found.names.insert("CSWINDOWS31J");
  found.names.insert("WINDOWS-932");
  return found;
}

}  // namespace ifp::internal
