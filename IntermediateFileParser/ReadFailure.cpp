#include "IntermediateFileParser/ReadFailure.h"

namespace ifp {

const char* NameOf(TReadFailure::TKind kind) noexcept {
  using TKind = TReadFailure::TKind;
  switch (kind) {
    case TKind::kNone:
      return "none";
    case TKind::kInput:
      return "input";
    case TKind::kParse:
      return "parse";
    case TKind::kCount:
      return "count";
    case TKind::kResource:
      return "resource";
    case TKind::kLimit:
      return "limit";
    case TKind::kMemory:
      return "memory";
    case TKind::kOther:
      return "other";
  }
  return "?";
}

const char* NameOf(TReadFailure::TLimit limit) noexcept {
  using TLimit = TReadFailure::TLimit;
  switch (limit) {
    case TLimit::kNone:
      return "none";
    case TLimit::kDepth:
      return "depth";
    case TLimit::kAttributes:
      return "attributes";
    case TLimit::kDeclaredAttributes:
      return "declared attributes";
    case TLimit::kKeptData:
      return "kept data";
    case TLimit::kNamespaceBindings:
      return "namespace bindings";
    case TLimit::kEntityReferences:
      return "entity references";
    case TLimit::kEntityNesting:
      return "entity nesting";
    case TLimit::kEntityExpansion:
      return "entity expansion";
    case TLimit::kTextRun:
      return "text run";
  }
  return "?";
}

std::string TReadFailure::Describe() const {
  std::string line = NameOf(kind);
  if (kind == TKind::kLimit) line += std::string(" (") + NameOf(limit) + ")";
  if (!detail.empty()) line += ": " + detail;
  return line;
}

}  // namespace ifp
