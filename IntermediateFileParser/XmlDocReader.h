#ifndef IFP_XMLDOCREADER_H
#define IFP_XMLDOCREADER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include "IntermediateFileParser/IntList.h"
#include "IntermediateFileParser/LocalEntityResolver.h"
#include "IntermediateFileParser/XmlDocument.h"

namespace ifp {

// The base of every document reader. Owns one SAX2 parser, turns what it
// reports into narrow (CP932) strings, tracks the element depth and the
// current element name, records the root element and reads the document head
// (everything before the first "body" start tag) into the TXmlDocument.
// From "body" on, start tags and texts go to the derived reader's OnElement
// and OnText.
//
// A text run is all character data from a start tag to the next tag of
// either kind; the parser's pieces of one run (cut at comments, references,
// CDATA sections and buffer ends) are joined and delivered in one call.
// Text after an end tag is dropped until the next start tag.
class TXmlDocReader : public xercesc::DefaultHandler {
 public:
  // One attribute of a start tag: its local name and its value.
  struct TAttribute : std::pair<std::string, std::string> {
    using std::pair<std::string, std::string>::pair;
  };
  using TAttributes = std::vector<TAttribute>;

  // The narrow copy of a NUL-terminated UTF-16 string.
  class TTranscoder {
   public:
    explicit TTranscoder(const XMLCh* text);
    const char* c_str() const noexcept { return buffer.c_str(); }
    const std::string& str() const& noexcept { return buffer; }
    // A transcoder about to go hands its string over instead of copying it.
    std::string str() && noexcept { return std::move(buffer); }

   private:
    std::string buffer;
  };

  // The deepest element nesting a document may have. The parser's cost per
  // element grows with the depth, so an absurdly deep document (a hostile
  // one: real documents nest a few levels) is refused at this depth instead
  // of keeping the parser busy for seconds.
  static constexpr int kMaxDepth = 10000;

  // Needs the XML platform to be initialised; must be destroyed before it is
  // terminated.
  TXmlDocReader();
  ~TXmlDocReader() override;
  TXmlDocReader(const TXmlDocReader&) = delete;
  TXmlDocReader& operator=(const TXmlDocReader&) = delete;

  // Parses the file at `path` (its exact bytes) into `doc`, which is not
  // cleared first. True when the parse ran to its end; false when anything
  // ended it early: a missing or unreadable file, a parser warning, error or
  // fatal error, a failed count check, a refused external resource.
  bool Read(TXmlDocument* doc, const char* path);

  int GetDepth() const noexcept { return depth; }
  TXmlDocument* GetDocument() const noexcept { return document; }

  // An attribute's value as a decimal number (strtol, base 10, clamped to
  // 32 bits).
  static int ToInt(const TAttribute& attribute);
  // Appends the numbers of `text` to `values` and requires the list to hold
  // exactly `expected` values then; throws TReadError otherwise.
  static void ToIntList(std::vector<int>& values, const std::string& text, std::int64_t expected);

  // SAX2 callbacks; only the parser calls them, during Read.
  void startElement(const XMLCh* const uri, const XMLCh* const localname, const XMLCh* const qname,
                    const xercesc::Attributes& attrs) override;
  void endElement(const XMLCh* const uri, const XMLCh* const localname,
                  const XMLCh* const qname) override;
  void characters(const XMLCh* const chars, const XMLSize_t length) override;
  void warning(const xercesc::SAXParseException& exc) override;
  void error(const xercesc::SAXParseException& exc) override;
  void fatalError(const xercesc::SAXParseException& exc) override;

 protected:
  // What becomes of the text runs of a body element.
  struct TTextUse {
    enum class Kind { kDrop, kWhole, kIntList };
    Kind kind = Kind::kWhole;
    std::vector<int>* list = nullptr;  // kIntList: where the numbers go
    std::int64_t expected = 0;         // kIntList: the count the list must end with

    // No hook reads the text: it is not kept.
    static TTextUse Drop() { return {Kind::kDrop, nullptr, 0}; }
    // Each run goes to OnText in one call.
    static TTextUse Whole() { return {Kind::kWhole, nullptr, 0}; }
    // Each run is read into `list` as it arrives, exactly as OnText calling
    // ToIntList(*list, run, expected) would, without holding the run.
    static TTextUse IntList(std::vector<int>& list, std::int64_t expected) {
      return {Kind::kIntList, &list, expected};
    }
  };

  // A start tag after the head region, root excluded; GetDepth() already
  // counts the new element.
  virtual void OnElement(const std::string& name, const TAttributes& attributes) = 0;
  // A text run after the head region.
  virtual void OnText(const std::string& name, const std::string& text) = 0;
  // Asked after OnElement, for the element just started: what to do with its
  // text. Every run goes to OnText unless a reader says otherwise.
  virtual TTextUse BodyTextUse(const std::string& name);

  // How many entries to reserve for a declared count: none for a negative
  // one, and never more than the document being read could hold, so that an
  // absurd count costs no memory. Lists grow past it as entries arrive.
  std::size_t ReservableCount(std::int32_t declared) const noexcept;

 private:
  void OnHeadElement(const std::string& name, const TAttributes& attributes);
  void OnHeadText(const std::string& name, const std::string& text);

  void StartTextRun();
  void EndTextRun();
  [[noreturn]] void Fail(const char* kind, const xercesc::SAXParseException& exc);

  // Outlives the parser, which refers to both.
  xercesc::SecurityManager security_manager;
  TLocalEntityResolver entity_resolver;

  std::unique_ptr<xercesc::SAX2XMLReaderImpl> parser;
  int depth = -1;
  bool in_head = true;
  std::string current_name;
  TXmlDocument* document = nullptr;

  // The text run of the current element.
  TTextUse text_use = TTextUse::Drop();
  bool text_started = false;
  std::string text_run;
  std::optional<TIntListBuilder> list_run;

  std::size_t reserve_limit = 0;
};

}  // namespace ifp

#endif  // IFP_XMLDOCREADER_H
