#include "IntermediateFileParser/internal/decoders/FastDecoders.h"

#include <unicode/ucnv.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransENameMap.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUTF8Transcoder.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "IntermediateFileParser/internal/decoders/PlainByteDecoder.h"
#include "IntermediateFileParser/internal/decoders/RecognizerMappings.h"

namespace ifp::internal {
namespace {

// The id of the transcoding service built on ICU.
constexpr XMLCh kIcuServiceId[] = u"ICU";

// The usual spellings of the encoding's name, besides ICU's own aliases.
constexpr const char* kUsualNames[] = {"Shift_JIS", "SJIS",       "windows-31j", "CP932",
                                       "MS_Kanji",  "x-sjis",     "csShiftJIS",  "Shift-JIS",
                                       "ShiftJIS",  "x-ms-cp932", "MS932"};

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

std::string UpperCase(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

std::u16string Widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

// Every name to try: the usual spellings and ICU's aliases of `canonical`,
// upper-cased, without the canonical name itself.
std::set<std::string> CandidateNames(const std::string& canonical) {
  std::set<std::string> names;
  for (const char* name : kUsualNames) names.insert(UpperCase(name));
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

// Makes the decoder for one registered name.
class TSjisNameMap final : public xercesc::ENameMap {
 public:
  TSjisNameMap(const XMLCh* name, std::u16string delegate_name,
               const TPlainByteDecoder::TPlainBytes& plain)
      : ENameMap(name), delegate_name_(std::move(delegate_name)), plain_(plain) {}

  xercesc::XMLTranscoder* makeNew(XMLSize_t block_size,
                                  xercesc::MemoryManager* manager) const override {
    xercesc::XMLTransService::Codes code = xercesc::XMLTransService::Ok;
    std::unique_ptr<xercesc::XMLTranscoder> delegate(
        xercesc::XMLPlatformUtils::fgTransService->makeNewTranscoderFor(delegate_name_.c_str(),
                                                                        code, block_size, manager));
    if (delegate == nullptr) return nullptr;
    // The parser adopts the decoder; it was made with `manager`, which
    // deletes it. A Shift_JIS character takes one or two bytes.
    return new (manager)
        TPlainByteDecoder(getKey(), block_size, std::move(delegate), plain_, 2, manager);
  }

 private:
  std::u16string delegate_name_;
  TPlainByteDecoder::TPlainBytes plain_;
};

// Makes decoders for UTF-8 as the parser recognises it (declared or not):
// the library's own UTF-8 decoder, which keeps no state between calls,
// behind the plain-byte path.
class TUtf8Mapping final : public xercesc::ENameMap {
 public:
  explicit TUtf8Mapping(const TPlainByteDecoder::TPlainBytes& plain)
      : ENameMap(xercesc::XMLUni::fgUTF8EncodingString), plain_(plain) {}

  xercesc::XMLTranscoder* makeNew(XMLSize_t block_size,
                                  xercesc::MemoryManager* manager) const override {
    // Both are made with `manager`, which deletes them.
    std::unique_ptr<xercesc::XMLTranscoder> delegate(
        new (manager) xercesc::XMLUTF8Transcoder(getKey(), block_size, manager));
    // The library's UTF-8 decoder looks at up to five bytes after a lead
    // byte (the old six-byte forms) before it decides on a character.
    return new (manager)
        TPlainByteDecoder(getKey(), block_size, std::move(delegate), plain_, 6, manager);
  }

 private:
  TPlainByteDecoder::TPlainBytes plain_;
};

}  // namespace

bool InstallUtf8Decoder() {
  constexpr auto kEncoding = xercesc::XMLRecognizer::UTF_8;
  if (dynamic_cast<TUtf8Mapping*>(RecognizerMapping(kEncoding)) != nullptr) return true;
  // The library's own decoder, by the name it keeps it under.
  const std::optional<TPlainByteDecoder::TPlainBytes> plain =
      TPlainByteDecoder::TPlainBytes::Probe(xercesc::XMLUni::fgUTF8EncodingString);
  if (!plain) return false;
  return SetRecognizerMapping(kEncoding, std::make_unique<TUtf8Mapping>(*plain));
}

void RegisterFastDecoders() {
  RegisterSjisDecoder();
  InstallUtf8Decoder();
}

bool RegisterSjisDecoder() {
  const xercesc::XMLTransService* const service = xercesc::XMLPlatformUtils::fgTransService;
  if (service == nullptr || !xercesc::XMLString::equals(service->getId(), kIcuServiceId)) {
    return false;
  }
  const TConverterInfo converter = ConverterFor("Shift_JIS");
  // A byte after a lead byte always completes the character only when no
  // character is longer than two bytes.
  if (converter.name.empty() || converter.max_char_size > 2) return false;
  const std::u16string delegate_name = Widen(converter.name);
  const std::optional<TPlainByteDecoder::TPlainBytes> plain =
      TPlainByteDecoder::TPlainBytes::Probe(delegate_name.c_str());
  if (!plain) return false;

  bool registered = false;
  for (const std::string& name : CandidateNames(converter.name)) {
    if (ConverterFor(name.c_str()).name != converter.name) continue;
    auto map = std::make_unique<TSjisNameMap>(Widen(name).c_str(), delegate_name, *plain);
    // The map owns the name it is filed under; the registry adopts the map
    // and drops one registered before under the same name.
    const XMLCh* const key = map->getKey();
    xercesc::XMLTransService::addEncoding(key, map.release());
    registered = true;
  }
  return registered;
}

}  // namespace ifp::internal
