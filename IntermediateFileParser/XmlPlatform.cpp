#include "IntermediateFileParser/XmlPlatform.h"

#include <stdexcept>
#include <string>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>

#include "IntermediateFileParser/ExpansionMeter.h"
#include "platform/CodePage.h"

namespace ifp {

TXmlPlatform::TXmlPlatform() {
  try {
    xercesc::XMLPlatformUtils::Initialize();
  } catch (const xercesc::XMLException& e) {
    throw std::runtime_error("XML platform error: " + platform::ToAnsi(e.getMessage()));
  }
  InstallEntityTextCounter();
}

TXmlPlatform::~TXmlPlatform() { xercesc::XMLPlatformUtils::Terminate(); }

}  // namespace ifp
