#ifndef IFP_XMLPLATFORM_H
#define IFP_XMLPLATFORM_H

namespace ifp {

// Keeps the XML platform up for as long as it lives: Xerces-C's
// XMLPlatformUtils::Initialize when it is made, Terminate when it goes, with
// what the readers add to the platform put in place in between. Every reader
// must be gone before its platform goes. Platforms may nest; the library
// counts them.
class TXmlPlatform {
 public:
  // Throws std::runtime_error when the platform cannot be brought up.
  TXmlPlatform();
  ~TXmlPlatform();
  TXmlPlatform(const TXmlPlatform&) = delete;
  TXmlPlatform& operator=(const TXmlPlatform&) = delete;
};

}  // namespace ifp

#endif  // IFP_XMLPLATFORM_H
