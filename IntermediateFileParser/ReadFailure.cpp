#include "IntermediateFileParser/ReadFailure.h"

#include <utility>

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
  std::string text = NameOf(kind);
  if (kind == TKind::kLimit) text += std::string(" (") + NameOf(limit) + ")";
  if (!detail.empty()) text += ": " + detail;
  if (line != 0) {
    text += " at line " + std::to_string(line) + ", column " + std::to_string(column);
  }
  return text;
}

TReadError::TReadError(TReadFailure failure)
    : std::runtime_error(failure.detail), failure_(std::move(failure)) {}

TReadError::TReadError(TReadFailure::TKind kind, const std::string& detail)
    : TReadError(TReadFailure{kind, TReadFailure::TLimit::kNone, detail}) {}

TReadError::TReadError(TReadFailure::TLimit limit, const std::string& detail)
    : TReadError(TReadFailure{TReadFailure::TKind::kLimit, limit, detail}) {}

}  // namespace ifp
