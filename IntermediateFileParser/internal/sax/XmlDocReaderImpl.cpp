#include "IntermediateFileParser/internal/sax/XmlDocReaderImpl.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDAttDef.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>

#include "IntermediateFileParser/internal/guards/KeptBytes.h"
#include "IntermediateFileParser/internal/guards/ReadError.h"
#include "IntermediateFileParser/internal/sax/DocumentInput.h"
#include "platform/CodePage.h"
#include "platform/Memory.h"

namespace ifp {
namespace {

using internal::ReadError;
using internal::TByteUse;
using internal::TDocumentInput;
using TUse = internal::TMemoryBudget::TUse;

// What one value of a list counts as kept: its own 4 bytes and room for
// what a program builds from the lists (a converter's table takes 4 bytes
// per step of three lists: 2 more per value is more than enough).
constexpr std::size_t kKeptBytesPerValue = sizeof(int) + 2;

// Calls a derived reader's hook: whatever it throws ends the read, which
// failed where the parser is now.
template <class Hook>
decltype(auto) CallHook(Hook&& hook) {
  try {
    return hook();
  } catch (...) {
    internal::NoteFailurePosition();
    throw;
  }
}

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

// The SAX2 parser, refusing an element type with more attribute declarations
// than kMaxDeclaredAttributes as the declaration that goes past it is made:
// the parser walks all of an element type's declarations on each of its
// start tags. Declarations reach it only while a declaration handler is set;
// they go no further, and neither do element declarations, whose content
// models would otherwise be formatted as text for the handler.
//
// Below the limit the walk is counted: the types with more declarations than
// walk cheaply are remembered, and each of their start tags counts its
// declarations as expansion (see TImpl::startElement).
class TDeclarationCheckingParser final : public xercesc::SAX2XMLReaderImpl {
 public:
  // `limits` outlives the parser.
  TDeclarationCheckingParser(xercesc::MemoryManager* manager, const TReadLimits& limits)
      : SAX2XMLReaderImpl(manager), limits_(limits) {}

  void attDef(const xercesc::DTDElementDecl& element, const xercesc::DTDAttDef& /*attribute*/,
              const bool ignoring) override {
    // An ignored declaration repeats one already made and adds nothing.
    if (ignoring) return;
    const XMLSize_t declared = element.getAttDefList().getAttDefCount();
    if (declared > static_cast<XMLSize_t>(limits_.max_declared_attributes)) {
      throw ReadError(TReadFailure::TLimit::kDeclaredAttributes,
                      "more than " + std::to_string(limits_.max_declared_attributes) +
                          " attributes declared for the element type " +
                          TXmlDocReader::TTranscoder(element.getFullName()).str());
    }
    if (declared > kCheaplyWalked) heavy_types_[element.getFullName()] = declared;
  }
  void elementDecl(const xercesc::DTDElementDecl& /*element*/, const bool /*ignored*/) override {}

  // The attributes declared for the element type of this qualified name,
  // when more than are walked cheaply; 0 otherwise.
  XMLSize_t HeavyDeclarationsOf(const XMLCh* qname) const {
    if (heavy_types_.empty()) return 0;
    const auto found = heavy_types_.find(qname);
    return found == heavy_types_.end() ? 0 : found->second;
  }
  // A new read declares its types anew.
  void ForgetDeclarations() noexcept { heavy_types_.clear(); }

 private:
  // Declarations the parser walks on a start tag for about the cost of one
  // attribute value's character each: not worth counting.
  static constexpr XMLSize_t kCheaplyWalked = 16;

  const TReadLimits& limits_;
  // Only types above kCheaplyWalked, so that at most one entry is kept per
  // that many declarations the DTD makes.
  std::unordered_map<std::u16string, XMLSize_t> heavy_types_;
};

// Memory held for a moment (the narrow copies of a start tag's attributes,
// the old block of a growing list), given back when it goes.
class TXmlDocReader::TImpl::THeldCopies {
 public:
  explicit THeldCopies(TImpl& impl) noexcept : impl_(impl) {}
  ~THeldCopies() { impl_.ReleaseCopies(bytes_); }
  THeldCopies(const THeldCopies&) = delete;
  THeldCopies& operator=(const THeldCopies&) = delete;

  void Hold(std::uint64_t bytes) {
    impl_.HoldCopies(bytes);
    bytes_ += bytes;
  }

 private:
  TImpl& impl_;
  std::uint64_t bytes_ = 0;
};

TXmlDocReader::TImpl::TImpl(TXmlDocReader& reader) : reader_(reader), entity_resolver_(meter_) {
  security_manager_.setEntityExpansionLimit(TReadLimits::kMaxEntityReferences);
  CreateParser();
}

TXmlDocReader::TImpl::~TImpl() = default;

void TXmlDocReader::TImpl::CreateParser() {
  parser_ = std::make_unique<TDeclarationCheckingParser>(&memory_, limits_);
  parser_->setContentHandler(this);
  parser_->setErrorHandler(this);
  // Makes the parser report attribute declarations (see
  // TDeclarationCheckingParser); what reaches this handler's own declaration
  // callbacks (entity declarations) is ignored.
  parser_->setDeclarationHandler(this);
  // Nothing is fetched from beyond the local file system.
  parser_->setXMLEntityResolver(&entity_resolver_);
  // Schema location hints are only hints, and nothing here validates against
  // a schema: they are never loaded, so a hint at an unreachable (or network)
  // address costs nothing and fetches nothing.
  parser_->setFeature(xercesc::XMLUni::fgXercesLoadSchema, false);
}

void TXmlDocReader::TImpl::Parse(const char* path, const TReadLimits& limits,
                                 const bool prefaulting) {
  limits_ = limits;
  failed_at_.Reset();
  if (!parser_) CreateParser();
  // The expansion meter counts what entities produce; the library's own
  // count of references stays behind it as a second wall, set anew for
  // each read's limits.
  security_manager_.setEntityExpansionLimit(static_cast<XMLSize_t>(limits_.max_entity_references));
  parser_->setProperty(xercesc::XMLUni::fgXercesSecurityManager, &security_manager_);
  text_use_ = TTextUse::Drop();
  text_started_ = false;
  text_run_ = std::string();
  text_run_held_ = 0;
  current_name_held_ = 0;
  list_run_.reset();
  bindings_in_scope_ = 0;
  bindings_of_element_ = 0;
  parse_failure_ = {};
  parser_->ForgetDeclarations();
  const TDocumentInput input(path, TDocumentInput::TKind::kAnyFile, &meter_, TByteUse::kInput);
  entity_resolver_.Reset(input.Id());
  reserve_limit_ = ReserveLimitOf(input);
  meter_.Start(input.Size());
  const internal::TActiveExpansionMeter active(meter_);
  const internal::TActiveFailurePosition position(failed_at_);
  // The prefaulter's thread, if one starts, ends with the read on every path.
  morv::os::TPrefaulter prefaulter;
  prefaulter_ = prefaulting ? &prefaulter : nullptr;
  try {
    parser_->parse(input);
  } catch (...) {
    prefaulter_ = nullptr;
    throw;
  }
  prefaulter_ = nullptr;
}

std::size_t TXmlDocReader::TImpl::RoomFor(std::int32_t declared) const noexcept {
  if (declared <= 0) return 0;
  return std::min(static_cast<std::size_t>(declared), reserve_limit_);
}

void TXmlDocReader::TImpl::Recover(TReadFailure::TKind kind) {
  // A run cut short by the failure holds nothing worth keeping.
  DropCopy(text_run_, text_run_held_);
  list_run_.reset();
  if (kind == TReadFailure::TKind::kMemory) {
    parser_.reset();
    memory_.Forget();
  }
}

void TXmlDocReader::TImpl::startElement(const XMLCh* const /*uri*/, const XMLCh* const localname,
                                        const XMLCh* const qname,
                                        const xercesc::Attributes& attrs) {
  EndTextRun();
  // The parser has walked the declarations of the element's type: many of
  // them cost like a long attribute value.
  meter_.AddExpansion(parser_->HeavyDeclarationsOf(qname));

  // The limits come first, before anything of the element is copied.
  const XMLSize_t count = attrs.getLength();
  const int bindings = std::exchange(bindings_of_element_, 0);
  if (count + static_cast<XMLSize_t>(bindings) > static_cast<XMLSize_t>(limits_.max_attributes)) {
    throw ReadError(TReadFailure::TLimit::kAttributes,
                    "an element with more than " + std::to_string(limits_.max_attributes) +
                        " attributes and namespace declarations");
  }
  if (reader_.depth + 1 >= limits_.max_depth) {
    throw ReadError(TReadFailure::TLimit::kDepth,
                    "elements nested deeper than " + std::to_string(limits_.max_depth) + " levels");
  }
  THeldCopies copies(*this);
  copies.Hold(sizeof(TAttribute) * count);
  TAttributes attributes;
  attributes.reserve(count);
  for (XMLSize_t i = 0; i < count; ++i) {
    // Each value is counted before it is copied, so that one a default or an
    // entity has blown up is refused before it costs anything more.
    const XMLCh* const value = attrs.getValue(i);
    const std::size_t length = std::char_traits<char16_t>::length(value);
    meter_.AddExpansion(length);
    const XMLCh* const name = attrs.getLocalName(i);
    copies.Hold(internal::NarrowBytesOf(length) +
                internal::NarrowBytesOf(std::char_traits<char16_t>::length(name)));
    std::string narrow_value;
    morv::os::AppendAnsi(narrow_value, value, length);
    attributes.emplace_back(TTranscoder(name).str(), std::move(narrow_value));
  }

  ++reader_.depth;
  // The element's name is kept until the next tag.
  const std::uint64_t name_bytes =
      internal::NarrowBytesOf(std::char_traits<char16_t>::length(localname));
  HoldCopies(name_bytes);
  reader_.current_name = TTranscoder(localname).str();
  ReleaseCopies(std::exchange(current_name_held_, name_bytes));
  if (reader_.current_name == "body") reader_.in_head = false;

  if (reader_.depth == 0) {
    TXmlDocument& document = *reader_.document;
    document.root_name = reader_.current_name;
    for (const TAttribute& attribute : attributes) {
      if (attribute.first == "version") document.version = attribute.second;
    }
  } else if (reader_.in_head) {
    reader_.OnHeadElement(reader_.current_name, attributes);
  } else {
    CallHook([&] { reader_.OnElement(reader_.current_name, attributes); });
  }
  StartTextRun();
}

void TXmlDocReader::TImpl::endElement(const XMLCh* const /*uri*/, const XMLCh* const /*localname*/,
                                      const XMLCh* const /*qname*/) {
  EndTextRun();
  --reader_.depth;
  reader_.current_name.clear();
}

void TXmlDocReader::TImpl::characters(const XMLCh* const chars, const XMLSize_t length) {
  switch (text_use_.kind_) {
    case TTextUse::Kind::kDrop:
      return;
    case TTextUse::Kind::kWhole:
      // A UTF-16 unit never takes more than two narrow bytes.
      ReserveCopy(text_run_, text_run_.size() + 2 * length, text_run_held_);
      morv::os::AppendAnsi(text_run_, chars, length);
      if (text_run_.size() > limits_.max_text_run) {
        throw ReadError(
            TReadFailure::TLimit::kTextRun,
            "a text of more than " + std::to_string(limits_.max_text_run) + " bytes kept whole");
      }
      break;
    case TTextUse::Kind::kIntList: {
      if (!list_run_) StartListRun();
      const std::vector<int>& values = text_use_.list_->data;
      const std::size_t before = values.size();
      MakeRoomForValues(length);
      list_run_->Append(chars, length);
      meter_.AddKept(kKeptBytesPerValue * (values.size() - before));
      if (prefaulter_ != nullptr) prefaulter_->Reached(values.data() + values.size());
      break;
    }
  }
  text_started_ = true;
}

// Gives the list of the run under way room for every value that a piece of
// `length` characters can add, counting the room as kept before it is
// allocated. Beyond the room its declared count gave it, a list then grows
// here, in steps that at least double it, and never while the values are
// appended: what a growth takes, the old block and the new one side by side,
// is counted before it happens.
void TXmlDocReader::TImpl::MakeRoomForValues(std::size_t length) {
  std::vector<int>& list = text_use_.list_->data;
  const auto expected =
      static_cast<std::uint64_t>(std::max<std::int32_t>(text_use_.list_->size, 0));
  if (list.size() >= expected) return;  // the next value fails the run
  // Each value takes a character and a separator; one may have been begun
  // by the piece before.
  const std::uint64_t most = std::min<std::uint64_t>(length / 2 + 1, expected - list.size());
  if (list.size() + most <= list.capacity()) return;
  const std::uint64_t grown = std::min<std::uint64_t>(
      expected, std::max<std::uint64_t>(list.size() + most, 2 * std::uint64_t{list.capacity()}));
  meter_.AddKept(sizeof(int) * (grown - list.capacity()));
  // The old block lives beside the new one while the values move over.
  THeldCopies old_block(*this);
  old_block.Hold(sizeof(int) * list.capacity());
  list.reserve(static_cast<std::size_t>(grown));
}

void TXmlDocReader::TImpl::HoldCopies(std::uint64_t bytes) {
  if (budget_.Take(TUse::kCopies, bytes)) return;
  throw ReadError(BudgetFull("copies of " + std::to_string(bytes) + " bytes"));
}

TReadFailure TXmlDocReader::TImpl::OutOfMemoryFailure() const {
  const std::size_t refused = memory_.Refused();
  if (budget_.HeldFor(TUse::kParser) + refused > limits_.parser_memory_budget) {
    return {TReadFailure::TKind::kMemory, TReadFailure::TLimit::kNone,
            "the parser needed more than its " + std::to_string(limits_.parser_memory_budget) +
                " bytes"};
  }
  return BudgetFull("the parser's " + std::to_string(refused) + " bytes more");
}

// The memory budget had no room for `what`. When the document model holds
// most of it, what the document keeps is what filled it.
TReadFailure TXmlDocReader::TImpl::BudgetFull(const std::string& what) const {
  const bool kept = budget_.HeldFor(TUse::kModel) > budget_.Allowed() / 2;
  return {kept ? TReadFailure::TKind::kLimit : TReadFailure::TKind::kMemory,
          kept ? TReadFailure::TLimit::kKeptData : TReadFailure::TLimit::kNone,
          what + " did not fit: the document kept " +
              std::to_string(budget_.HeldFor(TUse::kModel)) + " bytes, the parser held " +
              std::to_string(budget_.HeldFor(TUse::kParser)) + " and copies " +
              std::to_string(budget_.HeldFor(TUse::kCopies)) + " of a budget of " +
              std::to_string(budget_.Allowed())};
}

void TXmlDocReader::TImpl::ReserveCopy(std::string& text, std::size_t size, std::uint64_t& held) {
  if (size <= text.capacity()) return;
  // As a string grows by itself: at least twice what it had.
  const std::size_t grown = std::max(size, 2 * text.capacity());
  const std::uint64_t bytes = internal::BlockBytesOf(grown + 1);
  HoldCopies(bytes);
  text.reserve(grown);
  ReleaseCopies(std::exchange(held, bytes));
}

void TXmlDocReader::TImpl::DropCopy(std::string& text, std::uint64_t& held) noexcept {
  text = std::string();
  ReleaseCopies(std::exchange(held, 0));
}

// The bindings a start tag declares are reported just before it. A binding
// is an attribute to the parser, and one a DTD declares with a default is
// made again on every element of that type: its value is counted as every
// attribute value is.
void TXmlDocReader::TImpl::startPrefixMapping(const XMLCh* const /*prefix*/,
                                              const XMLCh* const uri) {
  meter_.AddExpansion(std::char_traits<char16_t>::length(uri));
  ++bindings_of_element_;
  if (++bindings_in_scope_ > limits_.max_namespace_bindings) {
    throw ReadError(TReadFailure::TLimit::kNamespaceBindings,
                    "more than " + std::to_string(limits_.max_namespace_bindings) +
                        " namespace bindings in scope");
  }
}

void TXmlDocReader::TImpl::endPrefixMapping(const XMLCh* const /*prefix*/) { --bindings_in_scope_; }

void TXmlDocReader::TImpl::setDocumentLocator(const xercesc::Locator* const locator) {
  failed_at_.SetLocator(locator);
}

// Decides, for the element just started, what its text run becomes.
void TXmlDocReader::TImpl::StartTextRun() {
  const std::string& name = reader_.current_name;
  if (name.empty()) {
    text_use_ = TTextUse::Drop();
  } else if (reader_.in_head) {
    const bool read = name == "title" || name == "comment";
    text_use_ = read ? TTextUse::Whole() : TTextUse::Drop();
  } else {
    text_use_ = CallHook([&] { return reader_.BodyTextUse(name); });
  }
}

// The first text of a number list: a list without room gets room for its
// declared count, and a large one has its pages faulted in a little ahead of
// the values as they arrive.
void TXmlDocReader::TImpl::StartListRun() {
  ELE_anm_data<int>& list = *text_use_.list_;
  if (reader_.ReserveDeclared(list.data, list.size)) {
    const std::size_t bytes = list.data.capacity() * sizeof(int);
    morv::os::AdviseSequentialFill(list.data.data(), bytes);
    if (prefaulter_ != nullptr) prefaulter_->Follow(list.data.data(), bytes);
  }
  list_run_.emplace(list.data, list.size);
}

// Delivers the run that a tag has just ended, if any text arrived.
void TXmlDocReader::TImpl::EndTextRun() {
  const TTextUse use = std::exchange(text_use_, TTextUse::Drop());
  if (!std::exchange(text_started_, false)) return;
  switch (use.kind_) {
    case TTextUse::Kind::kDrop:
      break;
    case TTextUse::Kind::kWhole:
      if (reader_.in_head) {
        reader_.OnHeadText(reader_.current_name, std::move(text_run_));
      } else {
        CallHook([&] { reader_.OnText(reader_.current_name, text_run_); });
      }
      DropCopy(text_run_, text_run_held_);
      break;
    case TTextUse::Kind::kIntList: {
      std::optional<internal::TIntListBuilder> run = std::exchange(list_run_, std::nullopt);
      run->Finish();
      break;
    }
  }
}

void TXmlDocReader::TImpl::warning(const xercesc::SAXParseException& exc) { Fail("warning", exc); }
void TXmlDocReader::TImpl::error(const xercesc::SAXParseException& exc) { Fail("error", exc); }
void TXmlDocReader::TImpl::fatalError(const xercesc::SAXParseException& exc) {
  Fail("fatal error", exc);
}

// Every report of the parser, a warning included, ends the read.
void TXmlDocReader::TImpl::Fail(const char* kind, const xercesc::SAXParseException& exc) {
  const std::string what = std::string(kind) + ": " + TTranscoder(exc.getMessage()).str();
  // The library's own count of entity references stops a document that
  // expands empty entities only (their text never reaches the meter): it is
  // the same limit.
  const bool references = meter_.References() > limits_.max_entity_references;
  parse_failure_ = {
      references ? TReadFailure::TKind::kLimit : TReadFailure::TKind::kParse,
      references ? TReadFailure::TLimit::kEntityReferences : TReadFailure::TLimit::kNone, what,
      exc.getLineNumber(), exc.getColumnNumber()};
  throw exc;
}

}  // namespace ifp
