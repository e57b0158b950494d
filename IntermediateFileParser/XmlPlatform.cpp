#include "IntermediateFileParser/XmlPlatform.h"

#include <mutex>
#include <stdexcept>
#include <string>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>

#include "IntermediateFileParser/internal/decoders/FastDecoders.h"
#include "IntermediateFileParser/internal/guards/ExpansionMeter.h"
#include "platform/CodePage.h"

namespace ifp {
namespace {

// The guards alive in the process, readers' own included, and the lock that
// brings the platform up and down with them.
std::mutex platform_mutex;
int platform_guards = 0;

}  // namespace

TXmlPlatform::TXmlPlatform() {
  const std::lock_guard<std::mutex> lock(platform_mutex);
  if (platform_guards == 0) {
    try {
      xercesc::XMLPlatformUtils::Initialize();
    } catch (const xercesc::XMLException& e) {
      throw std::runtime_error("XML platform error: " + morv::os::ToAnsi(e.getMessage()));
    }
    try {
      internal::InstallEntityTextCounter();
      // Shift_JIS and UTF-8 documents decode through the fast decoders where
      // the parser's own decoders allow it; otherwise those decode them alone.
      internal::RegisterFastDecoders();
    } catch (...) {
      xercesc::XMLPlatformUtils::Terminate();
      throw;
    }
  }
  ++platform_guards;
}

TXmlPlatform::~TXmlPlatform() {
  const std::lock_guard<std::mutex> lock(platform_mutex);
  if (--platform_guards == 0) xercesc::XMLPlatformUtils::Terminate();
}

}  // namespace ifp
