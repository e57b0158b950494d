#include "IntermediateFileParser/internal/decoders/RecognizerMappings.h"

#include <xercesc/util/TransService.hpp>

namespace ifp::internal {
namespace {

// The table is a protected member of the transcoding service, within reach
// of a class derived from it; this one is never instantiated.
class TRecognizerTable : public xercesc::XMLTransService {
 public:
  static xercesc::RefVectorOf<xercesc::ENameMap>* Get() {
    return gMappingsRecognizer != nullptr &&
                   gMappingsRecognizer->size() == xercesc::XMLRecognizer::Encodings_Count
               ? gMappingsRecognizer
               : nullptr;
  }
};

}  // namespace

xercesc::ENameMap* RecognizerMapping(xercesc::XMLRecognizer::Encodings encoding) {
  xercesc::RefVectorOf<xercesc::ENameMap>* const table = TRecognizerTable::Get();
  return table != nullptr ? table->elementAt(encoding) : nullptr;
}

bool SetRecognizerMapping(xercesc::XMLRecognizer::Encodings encoding,
                          std::unique_ptr<xercesc::ENameMap> mapping) {
  xercesc::RefVectorOf<xercesc::ENameMap>* const table = TRecognizerTable::Get();
  if (table == nullptr) return false;
  table->setElementAt(mapping.release(), encoding);
  return true;
}

}  // namespace ifp::internal
