#ifndef IFP_LOCALENTITYRESOLVER_H
#define IFP_LOCALENTITYRESOLVER_H

#include <xercesc/util/XMLEntityResolver.hpp>

namespace ifp {

// Resolves the external DTDs and entities that a document names, from local
// regular files only. A relative system id is taken next to the file that
// names it, by the exact bytes of that file's path; an absolute path or a
// file: URL is opened as it stands. Anything at a network address (http,
// https, ftp or any other scheme) is refused and ends the read: nothing is
// ever fetched.
class TLocalEntityResolver : public xercesc::XMLEntityResolver {
 public:
  xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;
};

}  // namespace ifp

#endif  // IFP_LOCALENTITYRESOLVER_H
