#include "IntermediateFileParser/XmlPlatform.h"

#include <stdexcept>
#include <string>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>

#include "IntermediateFileParser/ExpansionMeter.h"
#include "IntermediateFileParser/SjisDecoderRegistry.h"
#include "platform/CodePage.h"

namespace ifp {

TXmlPlatform::TXmlPlatform() {
  try {
    xercesc::XMLPlatformUtils::Initialize();
  } catch (const xercesc::XMLException& e) {
    throw std::runtime_error("XML platform error: " + platform::ToAnsi(e.getMessage()));
  }
  InstallEntityTextCounter();
  // Shift_JIS documents decode through the fast decoder where the parser's
  // converter allows it; otherwise the converter decodes them alone.
  RegisterSjisDecoder();
}

TXmlPlatform::~TXmlPlatform() { xercesc::XMLPlatformUtils::Terminate(); }

}  // namespace ifp
