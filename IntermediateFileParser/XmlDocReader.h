#ifndef IFP_XMLDOCREADER_H
#define IFP_XMLDOCREADER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "IntermediateFileParser/AnmData.h"
#include "IntermediateFileParser/ReadFailure.h"
#include "IntermediateFileParser/ReadLimits.h"
#include "IntermediateFileParser/XmlDocument.h"
#include "IntermediateFileParser/ptrvector.h"

namespace ifp {

// The base of every document reader. Reads a document with Xerces-C's SAX2
// parser, turns what it reports into narrow (CP932) strings, tracks the
// element depth and the current element name, records the root element and
// reads the document head (everything before the first "body" start tag)
// into the TXmlDocument. From "body" on, start tags and texts go to the
// derived reader's OnElement and OnText.
//
// A text run is all character data from a start tag to the next tag of
// either kind; the parser's pieces of one run (cut at comments, references,
// CDATA sections and buffer ends) are joined and delivered in one call.
// Text after an end tag is dropped until the next start tag.
//
// A reader holds the XML platform (TXmlPlatform) up for its whole life: it
// may be made under a guard and outlive it. The parser and everything that
// guards it stay inside the reader. A reader is used by one thread at a time;
// readers on several threads read side by side.
class TXmlDocReader {
  // The parser's side, behind this header.
  class TImpl;

 public:
  // One attribute of a start tag: its local name and its value.
  struct TAttribute : std::pair<std::string, std::string> {
    using std::pair<std::string, std::string>::pair;
  };
  using TAttributes = std::vector<TAttribute>;

  // The narrow copy of a NUL-terminated UTF-16 string (the parser's XMLCh).
  class TTranscoder {
   public:
    explicit TTranscoder(const char16_t* text);
    const char* c_str() const noexcept { return buffer.c_str(); }
    const std::string& str() const& noexcept { return buffer; }
    // A transcoder about to go hands its string over instead of copying it.
    std::string str() && noexcept { return std::move(buffer); }

   private:
    std::string buffer;
  };

  // Brings the XML platform up if no guard holds it (std::runtime_error when
  // it cannot be; std::bad_alloc when memory runs out).
  TXmlDocReader();
  virtual ~TXmlDocReader();
  TXmlDocReader(const TXmlDocReader&) = delete;
  TXmlDocReader& operator=(const TXmlDocReader&) = delete;

  // The limits of the reader's next reads (the defaults of TReadLimits until
  // it is given others). std::invalid_argument for a negative one.
  void SetLimits(const TReadLimits& limits);
  const TReadLimits& GetLimits() const noexcept { return limits; }

  // Where the reader's trace goes, one line at a time, without its line end:
  // where each read starts and, for a read that fails, the failure
  // (TReadFailure::Describe) and the end. Nowhere by default: the library
  // writes nothing by itself. A sink that throws loses its line.
  using TTraceSink = std::function<void(const std::string& line)>;
  void SetTrace(TTraceSink sink);

  // Whether a read may fault in the pages of a large value list on a thread
  // of its own, a little ahead of the values (see XmlPlatform.h); on by
  // default.
  void SetPrefaulting(bool on) noexcept;

  int GetDepth() const noexcept { return depth; }
  TXmlDocument* GetDocument() const noexcept { return document; }
  // Why the last Read answered false (kind kNone after a successful one).
  const TReadFailure& GetFailure() const noexcept { return failure; }

  // An attribute's value as a decimal number (strtol, base 10, clamped to
  // 32 bits).
  static int ToInt(const TAttribute& attribute);
  // Appends the numbers of `text` to `values` and requires the list to hold
  // exactly `expected` values then. Otherwise it throws TReadError (kind
  // kCount): called from a hook, that ends the read, which then fails so.
  static void ToIntList(std::vector<int>& values, const std::string& text, std::int64_t expected);

 protected:
  // Parses the file at `path` (its exact bytes) into `doc`, which is not
  // cleared first. True when the parse ran to its end; false when anything
  // ended it early: a missing or unreadable file, a parser warning, error or
  // fatal error, a failed count check, a refused external resource, a limit.
  // GetFailure() then says which, and where. It throws nothing: whatever
  // ends the read (TReadError, std::bad_alloc, a hook's own exception) is
  // caught and becomes the failure. A concrete reader offers it for the one
  // document type it fills.
  bool Read(TXmlDocument* doc, const char* path);

  // What becomes of the text runs of a body element.
  class TTextUse {
   public:
    // No hook reads the text: it is not kept.
    static TTextUse Drop() noexcept { return TTextUse(Kind::kDrop, nullptr); }
    // Each run goes to OnText in one call.
    static TTextUse Whole() noexcept { return TTextUse(Kind::kWhole, nullptr); }
    // Each run is read into `list` as it arrives, exactly as OnText calling
    // ToIntList(list.data, run, list.size) would, without holding the run.
    // A list with no room yet is first given room for its declared count
    // (see ReserveDeclared). The reader keeps a reference to `list` until
    // the element ends: the list must stay where it is until then.
    static TTextUse IntList(ELE_anm_data<int>& list) noexcept {
      return TTextUse(Kind::kIntList, &list);
    }

   private:
    friend class TImpl;
    enum class Kind { kDrop, kWhole, kIntList };
    TTextUse(Kind kind, ELE_anm_data<int>* list) noexcept : kind_(kind), list_(list) {}

    Kind kind_;
    ELE_anm_data<int>* list_;
  };

  // A start tag after the head region, root excluded; GetDepth() already
  // counts the new element. The name and the attributes live for the call
  // only: a reader copies what it keeps.
  virtual void OnElement(const std::string& name, const TAttributes& attributes) = 0;
  // A text run after the head region; the text lives for the call only.
  virtual void OnText(const std::string& name, const std::string& text) = 0;
  // Asked after OnElement, for the element just started: what to do with its
  // text. Every run goes to OnText unless a reader says otherwise.
  virtual TTextUse BodyTextUse(const std::string& name);

  // Gives a list room for a declared count of entries. A list is given room
  // this way once, while it has none: later counts leave it to the list's own
  // growth, so that a document repeating its counts cannot make each of them
  // copy the list again. No room for a negative count, and never more than
  // the document being read could hold, so that an absurd count costs nothing.
  // True when the list was given room.
  template <class List>
  bool ReserveDeclared(List& list, std::int32_t declared) const {
    const std::size_t room = DeclaredRoom(list.capacity(), declared);
    if (room == 0) return false;
    list.reserve(room);
    return true;
  }

  // What the document keeps from the read under way draws on the read's
  // memory budget (TReadLimits::memory_floor, memory_factor): a reader counts
  // the memory of what it stores, as the library's own readers count every
  // record, name and list entry. Both throw once the budget has no room for
  // it (TReadError of the kept-data limit); the read then ends as at any
  // other limit.
  void CountKept(std::size_t bytes) const;
  // A record of its own allocation, held by a ptrvector, with the strings it
  // holds: CountKeptRecord(*record, {record->name}).
  template <class Record>
  void CountKeptRecord(
      const Record& /*record*/,
      std::initializer_list<std::reference_wrapper<const std::string>> texts = {}) const {
    CountKeptRecord(sizeof(Record), texts);
  }
  // Appends `record` to `list`, which owns it from then on, counting it as
  // CountKeptRecord does. A list that must grow holds its old block beside
  // the new one for a moment: that moment is counted too.
  template <class Record>
  void AdoptRecord(ptrvector<Record>& list, std::unique_ptr<Record> record,
                   std::initializer_list<std::reference_wrapper<const std::string>> texts = {}) {
    CountKeptRecord(*record, texts);
    const std::size_t old_block =
        list.size() == list.capacity() ? sizeof(Record*) * list.capacity() : 0;
    HoldWhileGrowing(old_block);
    try {
      list.push_back(nullptr);
    } catch (...) {
      ReleaseAfterGrowing(old_block);
      throw;
    }
    ReleaseAfterGrowing(old_block);
    list.back() = record.release();
  }

 private:
  // The room ReserveDeclared gives a list of this capacity.
  std::size_t DeclaredRoom(std::size_t capacity, std::int32_t declared) const noexcept;
  void CountKeptRecord(
      std::size_t record_size,
      std::initializer_list<std::reference_wrapper<const std::string>> texts) const;
  void HoldWhileGrowing(std::size_t bytes) const;
  void ReleaseAfterGrowing(std::size_t bytes) const noexcept;
  // Assigns `value` to a string that the document keeps, counting the change.
  void KeepString(std::string& field, std::string value) const;
  void Trace(const std::string& line) const noexcept;
  void OnHeadElement(const std::string& name, const TAttributes& attributes);
  // Takes the text over: a head text is kept whole, and may be large.
  void OnHeadText(const std::string& name, std::string&& text);

  std::unique_ptr<TImpl> impl;
  TReadLimits limits;
  TTraceSink trace;
  bool prefaulting = true;
  int depth = -1;
  bool in_head = true;
  std::string current_name;
  TXmlDocument* document = nullptr;
  TReadFailure failure;
};

}  // namespace ifp

#endif  // IFP_XMLDOCREADER_H
