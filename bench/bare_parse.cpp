// bare_parse <document>: lets Xerces-C's SAX2 parser scan the document with
// handlers that do nothing. Exit status 0 when the document parsed, 1 when
// the parser reported anything. Built with MORV_FAST_DECODER, it decodes
// Shift_JIS and UTF-8 with the reader's own decoders, as morv_conv does.

#include <cstdio>
#include <memory>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>

#ifdef MORV_FAST_DECODER
#include "IntermediateFileParser/internal/decoders/FastDecoders.h"
#endif

namespace {

// Ignores every event; any warning, error or fatal error ends the parse.
class ThrowingHandler : public xercesc::DefaultHandler {
 public:
  void warning(const xercesc::SAXParseException& e) override { throw e; }
  void error(const xercesc::SAXParseException& e) override { throw e; }
  void fatalError(const xercesc::SAXParseException& e) override { throw e; }
};

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fputs("usage: bare_parse <document>\n", stderr);
    return 2;
  }
  xercesc::XMLPlatformUtils::Initialize();
#ifdef MORV_FAST_DECODER
  ifp::internal::RegisterFastDecoders();
#endif
  int status = 0;
  {
    std::unique_ptr<xercesc::SAX2XMLReader> parser(xercesc::XMLReaderFactory::createXMLReader());
    ThrowingHandler handler;
    parser->setContentHandler(&handler);
    parser->setErrorHandler(&handler);
    try {
      parser->parse(argv[1]);
    } catch (const xercesc::SAXParseException&) {
      status = 1;
    } catch (const xercesc::XMLException&) {
      status = 1;
    }
  }
  xercesc::XMLPlatformUtils::Terminate();
  return status;
}
