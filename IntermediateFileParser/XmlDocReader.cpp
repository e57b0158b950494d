#include "IntermediateFileParser/XmlDocReader.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "IntermediateFileParser/DocumentInput.h"
#include "IntermediateFileParser/ReadError.h"
#include "IntermediateFileParser/SjisDecoderRegistry.h"
#include "IntermediateFileParser/Trace.h"
#include "platform/CodePage.h"

namespace ifp {
namespace {

// Reservations for a document whose size is unknown (a pipe, a device).
constexpr std::size_t kReserveLimitOfStream = std::size_t{1} << 16;

// More values than the document's own text can hold: each takes at least
// one character and a separator. (Entities may expand to more; the lists
// then grow as values arrive.)
std::size_t ReserveLimitOf(const TDocumentInput& input) {
  const std::optional<std::uint64_t> bytes = input.Size();
  return bytes ? static_cast<std::size_t>(*bytes / 2 + 1) : kReserveLimitOfStream;
}

}  // namespace

TXmlDocReader::TTranscoder::TTranscoder(const XMLCh* text) : buffer(platform::ToAnsi(text)) {}

TXmlDocReader::TXmlDocReader() : parser(std::make_unique<xercesc::SAX2XMLReaderImpl>()) {
  assert(parser != nullptr);
  RegisterSjisDecoder();  // Shift_JIS documents decode through the fast decoder
  parser->setContentHandler(this);
  parser->setErrorHandler(this);
  // A document cannot make the parser expand entities without bound, nor
  // reach past the local file system for its DTD, entities or schemas.
  parser->setProperty(xercesc::XMLUni::fgXercesSecurityManager, &security_manager);
  parser->setXMLEntityResolver(&entity_resolver);
  // Schema location hints are only hints, and nothing here validates against
  // a schema: they are never loaded, so a hint at an unreachable (or network)
  // address costs nothing and fetches nothing.
  parser->setFeature(xercesc::XMLUni::fgXercesLoadSchema, false);
}

TXmlDocReader::~TXmlDocReader() = default;

bool TXmlDocReader::Read(TXmlDocument* doc, const char* path) {
  assert(doc != nullptr && path != nullptr);
  Trace("start reading xml file (%s)\n", path);
  depth = -1;
  in_head = true;
  current_name.clear();
  document = doc;
  text_use = TTextUse::Drop();
  text_started = false;
  text_run.clear();
  list_run.reset();
  try {
    const TDocumentInput input(path);
    reserve_limit = ReserveLimitOf(input);
    parser->parse(input);
    return true;
  } catch (const xercesc::SAXParseException&) {
    // Traced by the error handler that threw it.
  } catch (const xercesc::XMLException& e) {
    Trace("%s\n", TTranscoder(e.getMessage()).c_str());
  } catch (const std::exception& e) {
    Trace("%s\n", e.what());
  } catch (...) {
    Trace("unexpected exception\n");
  }
  Trace("read failed! (%s)\n", path);
  // A run cut short by the failure holds nothing worth keeping.
  text_run.clear();
  text_run.shrink_to_fit();
  list_run.reset();
  return false;
}

int TXmlDocReader::ToInt(const TAttribute& attribute) { return ToInt32(attribute.second); }

void TXmlDocReader::ToIntList(std::vector<int>& values, const std::string& text,
                              std::int64_t expected) {
  ifp::ToIntList(values, text, expected);
}

std::size_t TXmlDocReader::ReservableCount(std::int32_t declared) const noexcept {
  if (declared <= 0) return 0;
  return std::min(static_cast<std::size_t>(declared), reserve_limit);
}

TXmlDocReader::TTextUse TXmlDocReader::BodyTextUse(const std::string& /*name*/) {
  return TTextUse::Whole();
}

void TXmlDocReader::startElement(const XMLCh* const /*uri*/, const XMLCh* const localname,
                                 const XMLCh* const /*qname*/, const xercesc::Attributes& attrs) {
  EndTextRun();

  const XMLSize_t count = attrs.getLength();
  TAttributes attributes;
  attributes.reserve(count);
  for (XMLSize_t i = 0; i < count; ++i) {
    attributes.emplace_back(TTranscoder(attrs.getLocalName(i)).str(),
                            TTranscoder(attrs.getValue(i)).str());
  }

  if (++depth >= kMaxDepth) {
    throw TReadError("elements nested deeper than " + std::to_string(kMaxDepth) + " levels");
  }
  current_name = TTranscoder(localname).str();
  if (current_name == "body") in_head = false;

  if (depth == 0) {
    document->root_name = current_name;
    for (const TAttribute& attribute : attributes) {
      if (attribute.first == "version") document->version = attribute.second;
    }
  } else if (in_head) {
    OnHeadElement(current_name, attributes);
  } else {
    OnElement(current_name, attributes);
  }
  StartTextRun();
}

void TXmlDocReader::endElement(const XMLCh* const /*uri*/, const XMLCh* const /*localname*/,
                               const XMLCh* const /*qname*/) {
  EndTextRun();
  --depth;
  current_name.clear();
}

void TXmlDocReader::characters(const XMLCh* const chars, const XMLSize_t length) {
  switch (text_use.kind) {
    case TTextUse::Kind::kDrop:
      return;
    case TTextUse::Kind::kWhole:
      platform::AppendAnsi(text_run, chars, length);
      break;
    case TTextUse::Kind::kIntList:
      if (!list_run) list_run.emplace(*text_use.list, text_use.expected);
      list_run->Append(chars, length);
      break;
  }
  text_started = true;
}

// Decides, for the element just started, what its text run becomes.
void TXmlDocReader::StartTextRun() {
  if (current_name.empty()) {
    text_use = TTextUse::Drop();
  } else if (in_head) {
    const bool read = current_name == "title" || current_name == "comment";
    text_use = read ? TTextUse::Whole() : TTextUse::Drop();
  } else {
    text_use = BodyTextUse(current_name);
  }
}

// Delivers the run that a tag has just ended, if any text arrived.
void TXmlDocReader::EndTextRun() {
  const TTextUse use = std::exchange(text_use, TTextUse::Drop());
  if (!std::exchange(text_started, false)) return;
  switch (use.kind) {
    case TTextUse::Kind::kDrop:
      break;
    case TTextUse::Kind::kWhole:
      if (in_head) {
        OnHeadText(current_name, text_run);
      } else {
        OnText(current_name, text_run);
      }
      text_run.clear();
      break;
    case TTextUse::Kind::kIntList: {
      std::optional<TIntListBuilder> run = std::exchange(list_run, std::nullopt);
      run->Finish();
      break;
    }
  }
}

void TXmlDocReader::OnHeadElement(const std::string& name, const TAttributes& attributes) {
  if (name == "create") {
    ELE_create& create = document->create;
    for (const TAttribute& attribute : attributes) {
      if (attribute.first == "user") {
        create.user = attribute.second;
      } else if (attribute.first == "host") {
        create.host = attribute.second;
      } else if (attribute.first == "date") {
        create.date = attribute.second;
      } else if (attribute.first == "source") {
        create.source = attribute.second;
      }
    }
  } else if (name == "generator") {
    ELE_generator& generator = document->generator;
    for (const TAttribute& attribute : attributes) {
      if (attribute.first == "name") {
        generator.name = attribute.second;
      } else if (attribute.first == "version") {
        generator.version = attribute.second;
      }
    }
  }
}

void TXmlDocReader::OnHeadText(const std::string& name, const std::string& text) {
  if (name == "title") {
    document->title = text;
  } else if (name == "comment") {
    document->comment = text;
  }
}

void TXmlDocReader::warning(const xercesc::SAXParseException& exc) { Fail("warning", exc); }
void TXmlDocReader::error(const xercesc::SAXParseException& exc) { Fail("error", exc); }
void TXmlDocReader::fatalError(const xercesc::SAXParseException& exc) { Fail("fatal error", exc); }

// Every report of the parser, a warning included, ends the read.
void TXmlDocReader::Fail(const char* kind, const xercesc::SAXParseException& exc) {
  Trace("%s at %llu %llu:%s\n", kind, static_cast<unsigned long long>(exc.getLineNumber()),
        static_cast<unsigned long long>(exc.getColumnNumber()),
        TTranscoder(exc.getMessage()).c_str());
  throw exc;
}

}  // namespace ifp
