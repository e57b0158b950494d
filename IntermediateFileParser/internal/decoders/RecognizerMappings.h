#ifndef IFP_INTERNAL_DECODERS_RECOGNIZERMAPPINGS_H
#define IFP_INTERNAL_DECODERS_RECOGNIZERMAPPINGS_H

#include <memory>
#include <xercesc/framework/XMLRecognizer.hpp>
#include <xercesc/util/TransENameMap.hpp>

namespace ifp::internal {

// Xerces-C makes the decoders of the encodings it recognises by itself (the
// UTF-8 of a document, declared or not; its own UTF-16 for the text of
// internal entities; ...) through a table of its transcoding service, one
// mapping per XMLRecognizer encoding. The table lives from the platform's
// initialisation to its termination.

// The mapping for `encoding`; null while the platform is down.
xercesc::ENameMap* RecognizerMapping(xercesc::XMLRecognizer::Encodings encoding);

// Makes `mapping` the one for `encoding`; the table adopts it and deletes the
// one it replaces. False (and `mapping` deleted) while the platform is down.
bool SetRecognizerMapping(xercesc::XMLRecognizer::Encodings encoding,
                          std::unique_ptr<xercesc::ENameMap> mapping);

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_DECODERS_RECOGNIZERMAPPINGS_H
