#include "IntermediateFileParser/XmlDocReader.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <new>
#include <stdexcept>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include "IntermediateFileParser/internal/guards/KeptBytes.h"
#include "IntermediateFileParser/internal/guards/ReadError.h"
#include "IntermediateFileParser/internal/numbers/IntList.h"
#include "IntermediateFileParser/internal/sax/XmlDocReaderImpl.h"
#include "platform/CodePage.h"

namespace ifp {

TXmlDocReader::TTranscoder::TTranscoder(const char16_t* text) : buffer(morv::os::ToAnsi(text)) {}

TXmlDocReader::TXmlDocReader() : impl(std::make_unique<TImpl>(*this)) {}

TXmlDocReader::~TXmlDocReader() = default;

bool TXmlDocReader::Read(TXmlDocument* doc, const char* path) {
  assert(doc != nullptr && path != nullptr);
  Trace(std::string("start reading xml file (") + path + ")");
  depth = -1;
  in_head = true;
  current_name.clear();
  document = doc;
  failure = {};
  using TKind = TReadFailure::TKind;
  try {
    impl->Parse(path, limits, prefaulting);
    return true;
  } catch (const TReadError& e) {
    failure = e.Failure();
  } catch (const xercesc::SAXParseException&) {
    failure = impl->ParseFailure();
  } catch (const xercesc::OutOfMemoryException&) {
    failure = impl->OutOfMemoryFailure();
  } catch (const xercesc::XMLException& e) {
    failure = {TKind::kParse, TReadFailure::TLimit::kNone, TTranscoder(e.getMessage()).str()};
  } catch (const std::bad_alloc&) {
    failure = {TKind::kOther, TReadFailure::TLimit::kNone, "out of memory"};
  } catch (const std::exception& e) {
    failure = {TKind::kOther, TReadFailure::TLimit::kNone, e.what()};
  } catch (...) {
    failure = {TKind::kOther, TReadFailure::TLimit::kNone, "unexpected exception"};
  }
  if (failure.kind == TKind::kNone) failure.kind = TKind::kOther;
  // Where the parser had got to, unless the failure says where.
  if (failure.line == 0) {
    failure.line = impl->FailurePosition().Line();
    failure.column = impl->FailurePosition().Column();
  }
  Trace(failure.Describe());
  Trace(std::string("read failed! (") + path + ")");
  impl->Recover(failure.kind);
  return false;
}

void TXmlDocReader::SetTrace(TTraceSink sink) { trace = std::move(sink); }

void TXmlDocReader::SetPrefaulting(bool on) noexcept { prefaulting = on; }

// A sink that fails loses its line; the read goes on as it would have.
void TXmlDocReader::Trace(const std::string& line) const noexcept {
  if (!trace) return;
  try {
    trace(line);
  } catch (...) {
  }
}

void TXmlDocReader::SetLimits(const TReadLimits& new_limits) {
  if (new_limits.max_depth < 0 || new_limits.max_attributes < 0 ||
      new_limits.max_declared_attributes < 0 || new_limits.max_namespace_bindings < 0 ||
      new_limits.max_entity_nesting < 0) {
    throw std::invalid_argument("a read limit below 0");
  }
  limits = new_limits;
}

int TXmlDocReader::ToInt(const TAttribute& attribute) {
  return internal::ToInt32(attribute.second);
}

void TXmlDocReader::ToIntList(std::vector<int>& values, const std::string& text,
                              std::int64_t expected) {
  internal::ToIntList(values, text, expected);
}

std::size_t TXmlDocReader::DeclaredRoom(std::size_t capacity,
                                        std::int32_t declared) const noexcept {
  return capacity == 0 ? impl->RoomFor(declared) : 0;
}

void TXmlDocReader::CountKept(std::size_t bytes) const { impl->CountKept(bytes); }

void TXmlDocReader::CountKeptRecord(
    std::size_t record_size,
    std::initializer_list<std::reference_wrapper<const std::string>> texts) const {
  // The record's own block and its pointer in the list.
  std::size_t bytes = internal::BlockBytesOf(record_size) + sizeof(void*);
  for (const std::string& text : texts) bytes += internal::HeapBytesOf(text);
  CountKept(bytes);
}

void TXmlDocReader::HoldWhileGrowing(std::size_t bytes) const { impl->HoldCopies(bytes); }

void TXmlDocReader::ReleaseAfterGrowing(std::size_t bytes) const noexcept {
  impl->ReleaseCopies(bytes);
}

void TXmlDocReader::KeepString(std::string& field, std::string value) const {
  CountKept(internal::HeapBytesOf(value));
  impl->ReleaseKept(internal::HeapBytesOf(field));
  field = std::move(value);
}

TXmlDocReader::TTextUse TXmlDocReader::BodyTextUse(const std::string& /*name*/) {
  return TTextUse::Whole();
}

void TXmlDocReader::OnHeadElement(const std::string& name, const TAttributes& attributes) {
  if (name == "create") {
    ELE_create& create = document->create;
    for (const TAttribute& attribute : attributes) {
      if (attribute.first == "user") {
        KeepString(create.user, attribute.second);
      } else if (attribute.first == "host") {
        KeepString(create.host, attribute.second);
      } else if (attribute.first == "date") {
        KeepString(create.date, attribute.second);
      } else if (attribute.first == "source") {
        KeepString(create.source, attribute.second);
      }
    }
  } else if (name == "generator") {
    ELE_generator& generator = document->generator;
    for (const TAttribute& attribute : attributes) {
      if (attribute.first == "name") {
        KeepString(generator.name, attribute.second);
      } else if (attribute.first == "version") {
        KeepString(generator.version, attribute.second);
      }
    }
  }
}

void TXmlDocReader::OnHeadText(const std::string& name, std::string&& text) {
  if (name == "title") {
    KeepString(document->title, std::move(text));
  } else if (name == "comment") {
    KeepString(document->comment, std::move(text));
  }
}

}  // namespace ifp
