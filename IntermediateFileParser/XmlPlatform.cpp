#include "IntermediateFileParser/XmlPlatform.h"

#include <stdexcept>
#include <string>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>

#include "IntermediateFileParser/internal/decoders/FastDecoders.h"
#include "IntermediateFileParser/internal/guards/ExpansionMeter.h"
#include "platform/CodePage.h"

namespace ifp {

TXmlPlatform::TXmlPlatform() {
  try {
    xercesc::XMLPlatformUtils::Initialize();
  } catch (const xercesc::XMLException& e) {
    throw std::runtime_error("XML platform error: " + morv::os::ToAnsi(e.getMessage()));
  }
  internal::InstallEntityTextCounter();
  // Shift_JIS and UTF-8 documents decode through the fast decoders where the
  // parser's own decoders allow it; otherwise those decode them alone.
  internal::RegisterFastDecoders();
}

TXmlPlatform::~TXmlPlatform() { xercesc::XMLPlatformUtils::Terminate(); }

}  // namespace ifp
