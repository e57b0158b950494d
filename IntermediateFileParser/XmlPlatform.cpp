#include "IntermediateFileParser/XmlPlatform.h"

#include <stdexcept>
#include <string>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>

#include "IntermediateFileParser/ExpansionMeter.h"
#include "IntermediateFileParser/FastDecoders.h"
#include "platform/CodePage.h"

namespace ifp {

TXmlPlatform::TXmlPlatform() {
  try {
    xercesc::XMLPlatformUtils::Initialize();
  } catch (const xercesc::XMLException& e) {
    throw std::runtime_error("XML platform error: " + platform::ToAnsi(e.getMessage()));
  }
  InstallEntityTextCounter();
  // Shift_JIS and UTF-8 documents decode through the fast decoders where the
  // parser's own decoders allow it; otherwise those decode them alone.
  RegisterFastDecoders();
}

TXmlPlatform::~TXmlPlatform() { xercesc::XMLPlatformUtils::Terminate(); }

}  // namespace ifp
