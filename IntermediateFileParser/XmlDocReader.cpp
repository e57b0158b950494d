#include "IntermediateFileParser/XmlDocReader.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <new>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include "IntermediateFileParser/IntList.h"
#include "IntermediateFileParser/ReadError.h"
#include "IntermediateFileParser/Trace.h"
#include "IntermediateFileParser/XmlDocReaderImpl.h"
#include "platform/CodePage.h"
#include "platform/Memory.h"

namespace ifp {

TXmlDocReader::TTranscoder::TTranscoder(const char16_t* text) : buffer(platform::ToAnsi(text)) {}

TXmlDocReader::TXmlDocReader() : impl(std::make_unique<TImpl>(*this)) {}

TXmlDocReader::~TXmlDocReader() = default;

bool TXmlDocReader::Read(TXmlDocument* doc, const char* path) {
  assert(doc != nullptr && path != nullptr);
  Trace("start reading xml file (%s)\n", path);
  depth = -1;
  in_head = true;
  current_name.clear();
  document = doc;
  failure = {};
  using TKind = TReadFailure::TKind;
  try {
    impl->Parse(path);
    return true;
  } catch (const TReadError& e) {
    failure = e.Failure();
  } catch (const xercesc::SAXParseException&) {
    failure = impl->ParseFailure();
  } catch (const xercesc::OutOfMemoryException&) {
    failure = {TKind::kMemory, TReadFailure::TLimit::kNone,
               "the parser needed more than its " +
                   std::to_string(TReadLimits::kParserMemoryBudget >> 20) + " MiB"};
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
  Trace("%s\n", failure.Describe().c_str());
  Trace("read failed! (%s)\n", path);
  impl->Recover(failure.kind);
  return false;
}

int TXmlDocReader::ToInt(const TAttribute& attribute) { return ToInt32(attribute.second); }

void TXmlDocReader::ToIntList(std::vector<int>& values, const std::string& text,
                              std::int64_t expected) {
  ifp::ToIntList(values, text, expected);
}

std::size_t TXmlDocReader::ReservableCount(std::int32_t declared) const noexcept {
  if (declared <= 0) return 0;
  return std::min(static_cast<std::size_t>(declared), impl->ReserveLimit());
}

void TXmlDocReader::CountKept(std::size_t bytes) const { impl->CountKept(bytes); }

void TXmlDocReader::KeepString(std::string& field, const std::string& value) const {
  CountKept(HeapBytesOf(value));
  impl->ReleaseKept(HeapBytesOf(field));
  field = value;
}

void TXmlDocReader::KeepString(std::string& field, std::string&& value) const {
  CountKept(HeapBytesOf(value));
  impl->ReleaseKept(HeapBytesOf(field));
  field = std::move(value);
}

std::size_t TXmlDocReader::BlockBytesOf(std::size_t size) noexcept {
  // A header word before the block, the whole rounded up to 16 bytes, and
  // never less than 32.
  constexpr std::size_t kHeader = sizeof(void*);
  constexpr std::size_t kGranule = 16;
  return std::max<std::size_t>(32, (size + kHeader + kGranule - 1) / kGranule * kGranule);
}

std::size_t TXmlDocReader::HeapBytesOf(const std::string& text) noexcept {
  // A short text stays inside the string.
  static const std::size_t kInPlace = std::string().capacity();
  return text.capacity() > kInPlace ? BlockBytesOf(text.capacity() + 1) : 0;
}

void TXmlDocReader::PrepareFill(void* storage, std::size_t bytes) const {
  platform::AdviseSequentialFill(storage, bytes);
  impl->PrefaultAhead(storage, bytes);
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
