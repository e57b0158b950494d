#ifndef IFP_INTERNAL_SAX_XMLDOCREADERIMPL_H
#define IFP_INTERNAL_SAX_XMLDOCREADERIMPL_H

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include "IntermediateFileParser/XmlDocReader.h"
#include "IntermediateFileParser/XmlPlatform.h"
#include "IntermediateFileParser/internal/guards/ExpansionMeter.h"
#include "IntermediateFileParser/internal/guards/LocalEntityResolver.h"
#include "IntermediateFileParser/internal/guards/MemoryBudget.h"
#include "IntermediateFileParser/internal/guards/ParserMemory.h"
#include "IntermediateFileParser/internal/guards/ReadError.h"
#include "IntermediateFileParser/internal/numbers/IntList.h"
#include "platform/Prefaulter.h"

namespace ifp {

class TDeclarationCheckingParser;

// The parser side of a TXmlDocReader: owns the SAX2 parser and what guards
// it (the memory budget, the expansion meter, the entity resolver), receives
// the parser's callbacks, applies the per-element limits and hands the reader
// its start tags and text runs.
class TXmlDocReader::TImpl final : public xercesc::DefaultHandler {
 public:
  explicit TImpl(TXmlDocReader& reader);
  ~TImpl() override;
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;

  // Parses the file at `path` for the reader, with `limits`, and with a
  // thread of its own faulting in the pages of large lists when
  // `prefaulting`; throws whatever ends it early.
  void Parse(const char* path, const TReadLimits& limits, bool prefaulting);
  // Where the last parse failed, as far as the parser had got (0, 0 when it
  // had not started).
  const internal::TFailurePosition& FailurePosition() const noexcept { return failed_at_; }
  // Drops what a parse that ended early left behind. A parser that ran out
  // of memory may be left inconsistent: the next read gets a new one.
  void Recover(TReadFailure::TKind kind);
  // Why the parser ran out of memory in the last parse.
  TReadFailure OutOfMemoryFailure() const;
  // The report of the parser's error handler that ended the last parse.
  const TReadFailure& ParseFailure() const noexcept { return parse_failure_; }
  // The entries a declared count reserves in the read under way: none for a
  // negative count, never more than the document can hold.
  std::size_t RoomFor(std::int32_t declared) const noexcept;
  // The document's kept memory (see TXmlDocReader::CountKept).
  void CountKept(std::size_t bytes) { meter_.AddKept(bytes); }
  void ReleaseKept(std::size_t bytes) noexcept { meter_.ReleaseKept(bytes); }
  // Narrow copies (and other memory held for a moment) drawn on the memory
  // budget. HoldCopies throws TReadError (kind kMemory) when it has no room.
  void HoldCopies(std::uint64_t bytes);
  void ReleaseCopies(std::uint64_t bytes) noexcept {
    budget_.Give(internal::TMemoryBudget::TUse::kCopies, bytes);
  }

  // SAX2 callbacks; only the parser calls them, during Parse.
  void startElement(const XMLCh* const uri, const XMLCh* const localname, const XMLCh* const qname,
                    const xercesc::Attributes& attrs) override;
  void endElement(const XMLCh* const uri, const XMLCh* const localname,
                  const XMLCh* const qname) override;
  void characters(const XMLCh* const chars, const XMLSize_t length) override;
  void startPrefixMapping(const XMLCh* const prefix, const XMLCh* const uri) override;
  void setDocumentLocator(const xercesc::Locator* const locator) override;
  void endPrefixMapping(const XMLCh* const prefix) override;
  void warning(const xercesc::SAXParseException& exc) override;
  void error(const xercesc::SAXParseException& exc) override;
  void fatalError(const xercesc::SAXParseException& exc) override;

 private:
  class THeldCopies;

  void CreateParser();
  // The failure of a read whose memory budget had no room for `what`.
  TReadFailure BudgetFull(const std::string& what) const;
  void StartTextRun();
  void StartListRun();
  void MakeRoomForValues(std::size_t length);
  void EndTextRun();
  // Gives `text` room for `size` bytes, holding its new block before it is
  // allocated; `held` is what its block holds.
  void ReserveCopy(std::string& text, std::size_t size, std::uint64_t& held);
  // Replaces `text` by nothing, giving back what its block held.
  void DropCopy(std::string& text, std::uint64_t& held) noexcept;
  [[noreturn]] void Fail(const char* kind, const xercesc::SAXParseException& exc);

  // Keeps the XML platform up for as long as the parser and everything of
  // the platform that this reader holds.
  const TXmlPlatform platform_;
  TXmlDocReader& reader_;

  // Outlive the parser, which refers to all of them. The limits of the read
  // under way (or the last one).
  TReadLimits limits_;
  internal::TMemoryBudget budget_{limits_};
  internal::TParserMemory memory_{budget_};
  xercesc::SecurityManager security_manager_;
  internal::TExpansionMeter meter_{budget_, limits_};
  internal::TLocalEntityResolver entity_resolver_;
  std::unique_ptr<TDeclarationCheckingParser> parser_;

  // The text run of the current element.
  TTextUse text_use_ = TTextUse::Drop();
  bool text_started_ = false;
  std::string text_run_;
  std::uint64_t text_run_held_ = 0;
  std::uint64_t current_name_held_ = 0;
  std::optional<internal::TIntListBuilder> list_run_;

  // Namespace bindings: in scope, and declared by the start tag under way.
  int bindings_in_scope_ = 0;
  int bindings_of_element_ = 0;

  std::size_t reserve_limit_ = 0;
  // The prefaulter of the read under way; none outside a read.
  morv::os::TPrefaulter* prefaulter_ = nullptr;
  TReadFailure parse_failure_;
  internal::TFailurePosition failed_at_;
};

}  // namespace ifp

#endif  // IFP_INTERNAL_SAX_XMLDOCREADERIMPL_H
