#ifndef IFP_READFAILURE_H
#define IFP_READFAILURE_H

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ifp {

// Why the last read of a reader ended early: what kind of failure, which
// limit for a document refused by one, where the parser had got to, and the
// particulars for people.
struct TReadFailure {
  enum class TKind {
    kNone,      // the last read ran to its end, or none was made
    kInput,     // the document could not be opened or read
    kParse,     // the parser reported a warning, an error or a fatal error
    kCount,     // a value list did not end with its declared count
    kResource,  // an external DTD or entity was refused or could not be read
    kLimit,     // a limit against hostile documents; `limit` says which
    kMemory,    // the parser ran out of its memory budget
    kOther,     // anything else, such as memory running out outside the parser
  };
  // The limits a document can run into (see TReadLimits).
  enum class TLimit {
    kNone,
    kDepth,               // elements nested too deeply
    kAttributes,          // too many attributes on one element
    kNamespaceBindings,   // too many namespace bindings in scope
    kEntityReferences,    // too many entity references expanded
    kEntityNesting,       // entities expanded inside each other too deeply
    kEntityExpansion,     // entities and defaults produced too much text
    kTextRun,             // a text kept whole grew too long
    kDeclaredAttributes,  // too many attributes declared for one element type
    kKeptData,            // the document model kept too much for the input
  };

  TKind kind = TKind::kNone;
  TLimit limit = TLimit::kNone;
  std::string detail;
  // The position the parser had reached, in the document or in the external
  // entity it was reading then (counted from 1); 0 when there is none, as for
  // a file that cannot be opened.
  std::uint64_t line = 0;
  std::uint64_t column = 0;

  // One line for the trace: "limit (depth): elements nested deeper than 256
  // levels at line 3, column 7", "count: 2 values against the declared 3 at
  // line 9, column 20", ...
  std::string Describe() const;
};

// What ends a read from inside, carrying its failure: thrown by the reader's
// conversions and counts (TXmlDocReader::ToIntList, CountKept) and by the
// library's guards during a read, and free for a derived reader's hooks to
// throw. Read catches it and answers false, its failure then the reader's
// GetFailure().
class TReadError : public std::runtime_error {
 public:
  explicit TReadError(TReadFailure failure);
  TReadError(TReadFailure::TKind kind, const std::string& detail);
  // A failure of kind kLimit.
  TReadError(TReadFailure::TLimit limit, const std::string& detail);

  const TReadFailure& Failure() const noexcept { return failure_; }

 private:
  TReadFailure failure_;
};

const char* NameOf(TReadFailure::TKind kind) noexcept;
const char* NameOf(TReadFailure::TLimit limit) noexcept;

}  // namespace ifp

#endif  // IFP_READFAILURE_H
