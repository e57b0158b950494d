#ifndef IFP_INTERNAL_GUARDS_LOCALENTITYRESOLVER_H
#define IFP_INTERNAL_GUARDS_LOCALENTITYRESOLVER_H

#include <set>
#include <xercesc/util/XMLEntityResolver.hpp>

#include "IntermediateFileParser/internal/sax/DocumentInput.h"

namespace ifp::internal {

class TExpansionMeter;

// Resolves the external DTDs and entities that a document names, from local
// regular files only. A relative system id is taken next to the file that
// names it, by the exact bytes of that file's path; an absolute path or a
// file: URL is opened as it stands. Anything at a network address (http,
// https, ftp or any other scheme) is refused and ends the read: nothing is
// ever fetched.
//
// A file is known by its device and inode, not by the name it is given: the
// first read of each distinct file in a read is part of the document's input;
// each further read of it, under whatever spelling of its path (./, //, ..,
// a file: URL, an absolute path, a symbolic or hard link), is an entity
// expanded once more, and its bytes count as expansion. The document itself
// counts as read.
class TLocalEntityResolver : public xercesc::XMLEntityResolver {
 public:
  explicit TLocalEntityResolver(TExpansionMeter& meter) noexcept : meter_(meter) {}

  // Forgets the files read so far: a new read of the document `document`
  // begins.
  void Reset(TFileId document) {
    read_.clear();
    read_.insert(document);
  }

  xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;

 private:
  TExpansionMeter& meter_;
  std::set<TFileId> read_;
};

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_GUARDS_LOCALENTITYRESOLVER_H
