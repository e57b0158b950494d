#include "IntermediateFileParser/internal/decoders/FastDecoders.h"

#include <memory>
#include <optional>
#include <string>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransENameMap.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUTF8Transcoder.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "IntermediateFileParser/internal/decoders/EucJpConverter.h"
#include "IntermediateFileParser/internal/decoders/Iso2022JpConverter.h"
#include "IntermediateFileParser/internal/decoders/PlainByteDecoder.h"
#include "IntermediateFileParser/internal/decoders/RecognizerMappings.h"
#include "IntermediateFileParser/internal/decoders/SjisConverter.h"

namespace ifp::internal {
namespace {

std::u16string Widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

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
  RegisterEucJpConverter();
  RegisterIso2022JpConverter();
  RegisterSjisDecoder();
  InstallUtf8Decoder();
}

bool RegisterSjisDecoder() {
  const std::optional<TSjisConverter> converter = FindSjisConverter();
  if (!converter) return false;
  const std::optional<TPlainByteDecoder::TPlainBytes> plain =
      TPlainByteDecoder::TPlainBytes::Probe(converter->delegate_name.c_str());
  if (!plain) return false;

  bool registered = false;
  for (const std::string& name : converter->names) {
    auto map =
        std::make_unique<TSjisNameMap>(Widen(name).c_str(), converter->delegate_name, *plain);
    // The map owns the name it is filed under; the registry adopts the map
    // and drops one registered before under the same name.
    const XMLCh* const key = map->getKey();
    xercesc::XMLTransService::addEncoding(key, map.release());
    registered = true;
  }
  return registered;
}

std::string UpperCase(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

}  // namespace ifp::internal
