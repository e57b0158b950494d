#ifndef IFP_INTERNAL_GUARDS_READERROR_H
#define IFP_INTERNAL_GUARDS_READERROR_H

#include <stdexcept>
#include <string>

#include "IntermediateFileParser/ReadFailure.h"

namespace ifp::internal {

// Ends a read from inside the parse: a count check that failed, an input that
// cannot be opened or read, an external resource that is refused, a limit a
// document ran into. `Read` catches it, like every other exception of a
// parse, answers false and keeps the failure it describes.
class TReadError : public std::runtime_error {
 public:
  TReadError(TReadFailure::TKind kind, const std::string& detail)
      : std::runtime_error(detail), kind_(kind) {}
  TReadError(TReadFailure::TLimit limit, const std::string& detail)
      : std::runtime_error(detail), kind_(TReadFailure::TKind::kLimit), limit_(limit) {}

  explicit TReadError(const TReadFailure& failure)
      : std::runtime_error(failure.detail), kind_(failure.kind), limit_(failure.limit) {}

  TReadFailure Failure() const { return {kind_, limit_, what()}; }

 private:
  TReadFailure::TKind kind_;
  TReadFailure::TLimit limit_ = TReadFailure::TLimit::kNone;
};

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_GUARDS_READERROR_H
