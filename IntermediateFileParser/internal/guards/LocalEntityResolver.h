#ifndef IFP_INTERNAL_GUARDS_LOCALENTITYRESOLVER_H
#define IFP_INTERNAL_GUARDS_LOCALENTITYRESOLVER_H

#include <set>
#include <string>
#include <xercesc/util/XMLEntityResolver.hpp>

namespace ifp::internal {

class TExpansionMeter;

// Resolves the external DTDs and entities that a document names, from local
// regular files only. A relative system id is taken next to the file that
// names it, by the exact bytes of that file's path; an absolute path or a
// file: URL is opened as it stands. Anything at a network address (http,
// https, ftp or any other scheme) is refused and ends the read: nothing is
// ever fetched.
//
// A file read for the first time in a read is part of the document's input;
// each further read of it is an entity expanded once more, and its bytes
// count as expansion.
class TLocalEntityResolver : public xercesc::XMLEntityResolver {
 public:
  explicit TLocalEntityResolver(TExpansionMeter& meter) noexcept : meter_(meter) {}

  // Forgets the files read so far: a new read begins.
  void Reset() { read_.clear(); }

  xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;

 private:
  TExpansionMeter& meter_;
  std::set<std::string> read_;
};

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_GUARDS_LOCALENTITYRESOLVER_H
