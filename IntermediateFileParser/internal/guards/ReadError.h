#ifndef IFP_INTERNAL_GUARDS_READERROR_H
#define IFP_INTERNAL_GUARDS_READERROR_H

#include <cstdint>
#include <string>
#include <utility>
#include <xercesc/sax/Locator.hpp>

#include "IntermediateFileParser/ReadFailure.h"

namespace ifp::internal {

// Where a read failed: the position the parser's locator gave when the first
// failure was noted.
class TFailurePosition {
 public:
  // A new read: nothing noted, and no locator until the parser gives one.
  void Reset() noexcept { *this = TFailurePosition(); }
  // The parser's locator for the read under way (SAX's setDocumentLocator).
  void SetLocator(const xercesc::Locator* locator) noexcept { locator_ = locator; }
  // Notes where the parser is now, unless a place is noted already.
  void Note() noexcept;

  std::uint64_t Line() const noexcept { return line_; }
  std::uint64_t Column() const noexcept { return column_; }

 private:
  const xercesc::Locator* locator_ = nullptr;
  bool noted_ = false;
  std::uint64_t line_ = 0;
  std::uint64_t column_ = 0;
};

// Makes a position the one this thread's read failures are noted in, for as
// long as it lives.
class TActiveFailurePosition {
 public:
  explicit TActiveFailurePosition(TFailurePosition& position) noexcept;
  ~TActiveFailurePosition();
  TActiveFailurePosition(const TActiveFailurePosition&) = delete;
  TActiveFailurePosition& operator=(const TActiveFailurePosition&) = delete;

 private:
  TFailurePosition* previous_;
};

// Notes where the parser of this thread's read is as where the read failed;
// nothing outside a read.
void NoteFailurePosition() noexcept;

// The error that ends a read from inside the library, where the parser is
// noted as where the read failed.
template <class What>
TReadError ReadError(What what, const std::string& detail) {
  NoteFailurePosition();
  return TReadError(what, detail);
}
inline TReadError ReadError(TReadFailure failure) {
  NoteFailurePosition();
  return TReadError(std::move(failure));
}

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_GUARDS_READERROR_H
