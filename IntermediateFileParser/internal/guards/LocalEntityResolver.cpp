#include "IntermediateFileParser/internal/guards/LocalEntityResolver.h"

#include <memory>
#include <string>
#include <xercesc/util/XMLResourceIdentifier.hpp>

#include "IntermediateFileParser/internal/guards/ExpansionMeter.h"
#include "IntermediateFileParser/internal/guards/ReadError.h"
#include "IntermediateFileParser/internal/sax/DocumentInput.h"
#include "platform/ResourcePath.h"
#include "platform/Unicode.h"

namespace ifp::internal {
namespace {

// UTF-8, the file-name encoding of the system, for a system id written in the
// document. Units that are no valid UTF-16 become U+FFFD.
std::string ToUtf8(const XMLCh* text) {
  std::string out;
  const std::size_t length = text == nullptr ? 0 : std::char_traits<char16_t>::length(text);
  for (std::size_t i = 0, units = 0; i < length; i += units) {
    const char32_t c = morv::os::CodePointAt(text, length, i, units);
    morv::os::AppendUtf8(out, morv::os::IsSurrogate(c) ? 0xFFFD : c);
  }
  return out;
}

// The scheme of a URL ("http" in "http://host/x"), or empty for a plain path.
std::string SchemeOf(const std::string& id) {
  const auto is_alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (id.empty() || !is_alpha(id[0])) return {};
  for (std::size_t i = 1; i < id.size(); ++i) {
    const char c = id[i];
    if (c == ':') return id.substr(0, i);
    if (!is_alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') break;
  }
  return {};
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The local path of a file: URL ("file:///dir/x.dtd", "file://localhost/x",
// "file:x"), with its %XX escapes decoded.
std::string PathOfFileUrl(const std::string& url) {
  std::string rest = url.substr(5);  // after "file:"
  // "file://C:/x" names a drive's file where drives are.
  if (rest.compare(0, 2, "//") == 0 && morv::os::StartsWithDrive(rest.substr(2))) {
    rest.erase(0, 2);
  } else if (rest.compare(0, 2, "//") == 0) {
    const std::size_t path_start = rest.find('/', 2);
    const std::string host =
        rest.substr(2, path_start == std::string::npos ? std::string::npos : path_start - 2);
    if (!host.empty() && host != "localhost") {
      throw ReadError(TReadFailure::TKind::kResource,
                      "refused to fetch " + url + ": not a local file");
    }
    rest = path_start == std::string::npos ? std::string() : rest.substr(path_start);
  }
  std::string path;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 &&
        HexValue(rest[i + 2]) >= 0) {
      path.push_back(static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2])));
      i += 2;
    } else {
      path.push_back(rest[i]);
    }
  }
  return morv::os::PathOfUrlPath(std::move(path));
}

}  // namespace

xercesc::InputSource* TLocalEntityResolver::resolveEntity(
    xercesc::XMLResourceIdentifier* resource) {
  const std::string id = ToUtf8(resource->getSystemId());
  std::string path;
  const std::string scheme = morv::os::StartsWithDrive(id) ? std::string() : SchemeOf(id);
  if (!scheme.empty()) {
    if (scheme != "file") {
      throw ReadError(TReadFailure::TKind::kResource,
                      "refused to fetch " + id + ": not a local file");
    }
    path = PathOfFileUrl(id);
  } else if (morv::os::IsAbsolutePath(id)) {
    path = id;
  } else {
    // Relative to the file that names it.
    const std::string base = TDocumentInput::PathOf(resource->getBaseURI());
    path = base.substr(0, morv::os::FolderLength(base)) + id;
  }
  // Network shares and devices are refused by their names, before anything
  // is opened.
  if (const std::string refusal = morv::os::RefusalOf(path); !refusal.empty()) {
    throw ReadError(TReadFailure::TKind::kResource, "refused to open " + id + ": " + refusal);
  }
  meter_.AddReference();
  meter_.CheckReferences();
  auto input = std::make_unique<TDocumentInput>(
      std::move(path), TDocumentInput::TKind::kRegularFile, &meter_, TByteUse::kInput);
  if (!read_.insert(input->Id()).second) input->SetByteUse(TByteUse::kExpansion);
  // The parser adopts the source and deletes it when it is done.
  return input.release();
}

}  // namespace ifp::internal
