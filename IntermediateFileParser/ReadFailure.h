#ifndef IFP_READFAILURE_H
#define IFP_READFAILURE_H

#include <string>

namespace ifp {

// Why the last read of a reader ended early: what kind of failure, which
// limit for a document refused by one, and the particulars for people.
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

  // One line for the trace: "limit (depth): elements nested deeper than 256
  // levels", "count: 2 values against the declared 3", ...
  std::string Describe() const;
};

const char* NameOf(TReadFailure::TKind kind) noexcept;
const char* NameOf(TReadFailure::TLimit limit) noexcept;

}  // namespace ifp

#endif  // IFP_READFAILURE_H
