#include <unicode/ucnv.h>

#include <memory>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include "IntermediateFileParser/internal/decoders/SjisConverter.h"

namespace ifp::internal {
namespace {

// The id of the transcoding service built on ICU.
constexpr XMLCh kIcuServiceId[] = u"ICU";
// The name the converter is looked up by.
constexpr char kSjisName[] = "Shift_JIS";

// What ICU opens for a name.
struct TConverterInfo {
  std::string name;  // ICU's canonical name; empty when it opens nothing
  int max_char_size = 0;
};

TConverterInfo ConverterFor(const char* name) {
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<UConverter, decltype(&ucnv_close)> converter(ucnv_open(name, &status),
                                                                     &ucnv_close);
  if (U_FAILURE(status) || converter == nullptr) return {};
  const char* canonical = ucnv_getName(converter.get(), &status);
  if (U_FAILURE(status) || canonical == nullptr) return {};
  return {canonical, ucnv_getMaxCharSize(converter.get())};
}

// The first name ICU's alias table gives for the converter that `name`
// stands for, which is that converter's entry in the table; empty when the
// table does not know the name. Nothing is opened.
std::string TableEntryFor(const char* name) {
  UErrorCode status = U_ZERO_ERROR;
  const char* first = ucnv_getAlias(name, 0, &status);
  return U_SUCCESS(status) && first != nullptr ? first : std::string();
}

// Every name to try: the usual spellings and ICU's aliases of `canonical`,
// upper-cased, without the canonical name itself.
std::set<std::string> CandidateNames(const std::string& canonical) {
  std::set<std::string> names;
  for (const char* name : kUsualSjisNames) names.insert(UpperCase(name));
  UErrorCode status = U_ZERO_ERROR;
  const std::uint16_t count = ucnv_countAliases(canonical.c_str(), &status);
  for (std::uint16_t i = 0; U_SUCCESS(status) && i < count; ++i) {
    const char* alias = ucnv_getAlias(canonical.c_str(), i, &status);
    if (U_SUCCESS(status) && alias != nullptr) names.insert(UpperCase(alias));
  }
  // The delegate is made under this name: it must stay ICU's.
  names.erase(UpperCase(canonical));
  return names;
}

}  // namespace

// The converter ICU opens for "Shift_JIS", under every name that opens the
// same one: its own aliases and the usual spellings. A name that opens
// another converter stays with the parser.
std::optional<TSjisConverter> FindSjisConverter() {
  const xercesc::XMLTransService* const service = xercesc::XMLPlatformUtils::fgTransService;
  if (service == nullptr || !xercesc::XMLString::equals(service->getId(), kIcuServiceId)) {
    return std::nullopt;
  }
  const TConverterInfo converter = ConverterFor(kSjisName);
  // A byte after a lead byte always completes the character only when no
  // character is longer than two bytes.
  if (converter.name.empty() || converter.max_char_size > 2) return std::nullopt;
  TSjisConverter found{{converter.name.begin(), converter.name.end()}, {}};
  // A name that stands for the same entry of the alias table opens the same
  // converter; that saves opening one for each of them. Any other name is
  // opened, to see what ICU makes of it.
  const std::string entry = TableEntryFor(kSjisName);
  for (const std::string& name : CandidateNames(converter.name)) {
    if ((!entry.empty() && TableEntryFor(name.c_str()) == entry) ||
        ConverterFor(name.c_str()).name == converter.name) {
      found.names.insert(name);
    }
  }
  return found;
}

}  // namespace ifp::internal
